// The ring of generated chunks: every chunk arrives once, in order, with what
// was made for it, however many more chunks there are than buffers.

#include "storage/chunk_pipeline.h"

#include <gtest/gtest.h>

#include <cstdint>

using tidewall::storage::chunk_pipeline;

namespace {

TEST(ChunkPipeline, ChunksArriveInOrderWithTheirOwnWordsThroughASmallRing) {
    struct shape {
        std::uint64_t chunks;
        unsigned slots;
    };
    for (shape s : {shape{0, 4}, shape{1, 4}, shape{3, 4}, shape{50, 4}, shape{50, 1}, shape{7, 0}}) {
        const std::size_t words = 64;
        chunk_pipeline ring(s.chunks, words, s.slots, [&](std::uint64_t index, unsigned* w) {
            for (std::size_t i = 0; i < words; ++i) w[i] = static_cast<unsigned>(index * 1000 + i);
        });
        for (std::uint64_t index = 0; index < s.chunks; ++index) {
            const unsigned* w = ring.next();
            ASSERT_NE(nullptr, w) << s.chunks << "/" << s.slots;
            for (std::size_t i = 0; i < words; ++i) ASSERT_EQ(index * 1000 + i, w[i]) << index;
            ring.release();
        }
        EXPECT_EQ(nullptr, ring.next()) << s.chunks;
    }
}

TEST(ChunkPipeline, StoppingEarlyLeavesNoWorkerBehind) {
    // The caller gives up after two chunks (a failed write): the destructor
    // must not wait for chunks nobody takes.
    unsigned made = 0;
    {
        chunk_pipeline ring(1000, 16, 2, [&](std::uint64_t, unsigned*) { ++made; });
        ASSERT_NE(nullptr, ring.next());
        ring.release();
        ASSERT_NE(nullptr, ring.next());
    }
    EXPECT_LE(made, 4u);
}

}  // namespace
