#ifndef TIDEWALL_FOUNDATION_PRG_PRG_STREAM_H
#define TIDEWALL_FOUNDATION_PRG_PRG_STREAM_H

// The pseudo-random stream of the I/O tests. Word i depends only on the key and
// on i, so any stretch can be made or checked on its own, and the words are the
// same on every machine and run: they are part of the test files' format.

#include <cstdint>
#include <string>

namespace tidewall::prg {

// A fresh key from the host, and its text form ("%08x").
unsigned new_key(std::string& key_text);

// Words first .. first+count-1 of key's stream into buf.
void fill(unsigned key, std::uint64_t first, unsigned* buf, unsigned count);

// Whether buf holds exactly words first .. first+count-1 of key's stream.
bool matches(unsigned key, std::uint64_t first, const unsigned* buf, unsigned count);

}  // namespace tidewall::prg

#endif
