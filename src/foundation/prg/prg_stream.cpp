#include "foundation/prg/prg_stream.h"

#include "foundation/host/host_backend.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 header starts its "undefined" vectors from themselves and
// then warns about it: silenced for the header's own lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

#include <cstdio>

namespace tidewall::prg {

namespace {

// A counter-based generator (the SplitMix64 finaliser over key and position).
// Words come in pairs: pair p is mix64(base + (p + 1) * step), its low word
// first, as memory holds a 64-bit value.
inline std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15ULL;

inline std::uint64_t base_of(unsigned key) {
    return (static_cast<std::uint64_t>(key) << 32 | key) ^ 0x6A09E667F3BCC908ULL;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight pairs at a time where the processor has 64-bit vector multiplies
// (AVX-512 DQ): the same words, about ten times as fast, so that making and
// checking the stream never holds up a disk.
#define TW_PRG_VECTOR 1
#define TW_PRG_AVX512 __attribute__((target("avx512f,avx512dq")))

bool vector_usable() {
    static const bool usable = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return usable;
}

TW_PRG_AVX512 inline __m512i mix64x8(__m512i z) {
    z = _mm512_mullo_epi64(_mm512_xor_si512(z, _mm512_srli_epi64(z, 30)), _mm512_set1_epi64(0xBF58476D1CE4E5B9LL));
    z = _mm512_mullo_epi64(_mm512_xor_si512(z, _mm512_srli_epi64(z, 27)), _mm512_set1_epi64(0x94D049BB133111EBLL));
    return _mm512_xor_si512(z, _mm512_srli_epi64(z, 31));
}
#endif

// What is done with the words as they come: written into a buffer, or compared
// with one. Each step gives the bits that differ (always 0 when writing), so one
// walk over the stream serves both. Passed by value: the buffer's address then
// stays in a register instead of being read again after every store.
struct writer {
    unsigned* buf;
    std::uint64_t word(unsigned i, unsigned w) {
        buf[i] = w;
        return 0;
    }
    std::uint64_t pair(unsigned i, std::uint64_t z) {
        buf[i] = static_cast<unsigned>(z);
        buf[i + 1] = static_cast<unsigned>(z >> 32);
        return 0;
    }
#ifdef TW_PRG_VECTOR
    TW_PRG_AVX512 __m512i pairs8(unsigned i, __m512i z) {
        _mm512_storeu_si512(buf + i, z);
        return _mm512_setzero_si512();
    }
#endif
};

struct comparer {
    const unsigned* buf;
    std::uint64_t word(unsigned i, unsigned w) { return buf[i] ^ w; }
    std::uint64_t pair(unsigned i, std::uint64_t z) {
        return (buf[i] ^ static_cast<unsigned>(z)) | (buf[i + 1] ^ static_cast<unsigned>(z >> 32));
    }
#ifdef TW_PRG_VECTOR
    TW_PRG_AVX512 __m512i pairs8(unsigned i, __m512i z) { return _mm512_xor_si512(z, _mm512_loadu_si512(buf + i)); }
#endif
};

#ifdef TW_PRG_VECTOR
// Whole groups of eight pairs from pair `pair` on, words from buffer index i;
// the or of the differences, and in done the number of pairs walked.
template <typename Words>
TW_PRG_AVX512 std::uint64_t walk_pairs8(std::uint64_t base, std::uint64_t pair, unsigned i, std::uint64_t pairs,
                                        Words words, std::uint64_t& done) {
    // The inputs of mix64 for pairs pair+1 .. pair+8.
    __m512i x = _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(base + (pair + 1) * kStep)),
                                 _mm512_mullo_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7),
                                                    _mm512_set1_epi64(static_cast<long long>(kStep))));
    const __m512i advance = _mm512_set1_epi64(static_cast<long long>(kStep * 8));
    __m512i diff = _mm512_setzero_si512();
    std::uint64_t j = 0;
    for (; j + 8 <= pairs; j += 8) {
        diff = _mm512_or_si512(diff, words.pairs8(i + static_cast<unsigned>(2 * j), mix64x8(x)));
        x = _mm512_add_epi64(x, advance);
    }
    done = j;
    return static_cast<std::uint64_t>(_mm512_reduce_or_epi64(diff));
}
#endif

// Words first .. first+count-1 handed to `words`, buffer index 0 on; the or of
// the differences it reports.
template <typename Words> std::uint64_t walk(unsigned key, std::uint64_t first, unsigned count, Words words) {
    const std::uint64_t base = base_of(key);
    std::uint64_t pair = first / 2;
    unsigned i = 0;
    std::uint64_t diff = 0;
    if (count > 0 && (first & 1)) {
        // An odd start takes the high word of its pair.
        diff |= words.word(i++, static_cast<unsigned>(mix64(base + (pair + 1) * kStep) >> 32));
        ++pair;
    }
#ifdef TW_PRG_VECTOR
    if (vector_usable()) {
        std::uint64_t done = 0;
        diff |= walk_pairs8(base, pair, i, (count - i) / 2, words, done);
        i += static_cast<unsigned>(done * 2);
        pair += done;
    }
#endif
    for (; i + 1 < count; i += 2, ++pair) diff |= words.pair(i, mix64(base + (pair + 1) * kStep));
    // An odd end takes the low word of its pair.
    if (i < count) diff |= words.word(i, static_cast<unsigned>(mix64(base + (pair + 1) * kStep)));
    return diff;
}

}  // namespace

unsigned new_key(std::string& key_text) {
    unsigned key = host::current().random_u32();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", key);
    key_text = buf;
    return key;
}

void fill(unsigned key, std::uint64_t first, unsigned* buf, unsigned count) { walk(key, first, count, writer{buf}); }

bool matches(unsigned key, std::uint64_t first, const unsigned* buf, unsigned count) {
    return walk(key, first, count, comparer{buf}) == 0;
}

}  // namespace tidewall::prg
