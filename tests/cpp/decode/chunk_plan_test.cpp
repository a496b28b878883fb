#include <gtest/gtest.h>

#include <random>

#include "chunk_plan.hpp"

namespace decode_test {
namespace {

using tarvok::raw::chunk;
using tarvok::raw::ChunkPlan;
using tarvok::raw::LongBytes;

// A chunk and the bytes behind it, with long bytes at the given density and
// runs of FF, so that operands hold long bytes, chains of them and end markers.
struct Chunk {
    std::uint8_t bytes[chunk + 8];
    std::uint64_t carried;
};

Chunk dense_chunk(std::mt19937_64& random, unsigned long_percent)
{
    Chunk c{};
    for (std::uint8_t& byte : c.bytes) {
        const auto roll = static_cast<unsigned>(random() % 100);
        byte = roll < long_percent / 4 ? 0xFF
               : roll < long_percent ? static_cast<std::uint8_t>(0xFC + random() % 4)
                                     : static_cast<std::uint8_t>(random());
    }
    c.carried = (std::uint64_t{1} << (random() % 5)) - 1;
    return c;
}

LongBytes long_bytes(const Chunk& c)
{
    LongBytes m{0, 0, 0, 0};
    for (unsigned j = 0; j < chunk; ++j) {
        const std::uint64_t bit = (std::uint64_t{1} << j) & ~c.carried;
        m.longs |= c.bytes[j] >= 0xFC ? bit : 0;
        m.two |= c.bytes[j] >= 0xFD ? bit : 0;
        m.three |= c.bytes[j] >= 0xFE ? bit : 0;
        m.four |= c.bytes[j] == 0xFF ? bit : 0;
    }
    return m;
}

// The plan from mask arithmetic, however the long bytes lie, is the plan of
// the walk that takes one long opcode after the other.
TEST(ChunkPlan, SettlesAsTheWalkDoes)
{
    std::mt19937_64 random(11);
    for (const unsigned long_percent : {3, 10, 30, 60, 90}) {
        for (int trial = 0; trial < 5000; ++trial) {
            const Chunk c = dense_chunk(random, long_percent);
            const ChunkPlan plan =
                tarvok::raw::plan_chunk(c.bytes, sizeof c.bytes, 0, long_bytes(c), c.carried, ~std::uint64_t{0}, true);
            const ChunkPlan walk = tarvok::raw::walk_long_opcodes(c.bytes, sizeof c.bytes, 0, long_bytes(c).longs,
                                                                  c.carried, ~std::uint64_t{0});
            ASSERT_EQ(plan.operands, walk.operands) << long_percent << "% trial " << trial;
            ASSERT_EQ(plan.spill, walk.spill) << long_percent << "% trial " << trial;
            ASSERT_EQ(plan.limit, walk.limit) << long_percent << "% trial " << trial;
            ASSERT_EQ(plan.stop, walk.stop) << long_percent << "% trial " << trial;
        }
    }
}

}  // namespace
}  // namespace decode_test
