#include "foundation/compat/tsaf_utils.h"

#include "foundation/prg/prg_stream.h"

// The stream itself lives in prg/; these are the names callers know it by.

unsigned tsaf_utils::generate_prg_key(std::string& key_text) { return tidewall::prg::new_key(key_text); }

void tsaf_utils::generate_prg_data(unsigned key, unsigned* buf, unsigned count) {
    tidewall::prg::fill(key, 0, buf, count);
}

void tsaf_utils::generate_prg_data_at(unsigned key, std::uint64_t first, unsigned* buf, unsigned count) {
    tidewall::prg::fill(key, first, buf, count);
}

bool tsaf_utils::prg_data_matches_at(unsigned key, std::uint64_t first, const unsigned* buf, unsigned count) {
    return tidewall::prg::matches(key, first, buf, count);
}
