#ifndef TIDEWALL_STORAGE_BLOCK_DRAW_H
#define TIDEWALL_STORAGE_BLOCK_DRAW_H

// Where the block-device test reads: block indexes drawn from the test's
// Mersenne Twister.

#include <boost/random/mersenne_twister.hpp>

namespace tidewall::storage {

// Two 32-bit draws make one 64-bit number, taken uniformly over blocks 0 to
// blocks - 2 (the last block is never read). Fewer than two blocks: block 0.
unsigned long long draw_block(boost::random::mt19937& mt, unsigned long long blocks);

}  // namespace tidewall::storage

#endif
