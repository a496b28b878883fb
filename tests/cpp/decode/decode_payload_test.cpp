#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "oracle/oracle.hpp"
#include "payload_cases.hpp"
#include "tarvok/raw/scan.hpp"

namespace decode_test {
namespace {

// decode_payload decodes a payload of up to 4080 bytes into room for a point
// per byte on the stack, one of up to 64 KiB into such room on the heap, and a
// longer one into a list sized by a count of the bytes with the high bit set,
// taken 64 at a time: lengths around every edge, each in an allocation of
// exactly its size, against the oracle.
TEST(DecodePayload, AgreesWithTheOracleAtEveryLengthEdge)
{
    constexpr std::size_t stack_limit = 4080;
    constexpr std::size_t limit = 64 * 1024;
    for (const PayloadShape& shape : payload_shapes()) {
        std::mt19937_64 random(17);
        for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64},
                                         std::size_t{65}, stack_limit - 1, stack_limit, stack_limit + 1,
                                         std::size_t{20000}, limit - 1, limit, limit + 1,
                                         limit + 63, limit + 64, limit + 65}) {
            const Bytes bytes = shape.make(random, length);
            const auto exact = std::make_unique_for_overwrite<std::uint8_t[]>(length);
            std::copy(bytes.begin(), bytes.end(), exact.get());
            const std::span<const std::uint8_t> payload(exact.get(), length);
            ASSERT_EQ(tarvok::raw::decode_payload(payload), oracle::decode(payload).points)
                << shape.name << " length " << length;
        }
    }
}

// Every byte a point, in each kind of room: it fills to its bound and the
// kernels' whole-vector stores reach into the slack.
TEST(DecodePayload, EveryByteAPoint)
{
    for (const std::size_t length : {4080, 5000, 70000}) {
        const Bytes bytes(length, 0x85);
        const std::vector<tarvok::raw::ScanPoint> points = tarvok::raw::decode_payload(bytes);
        ASSERT_EQ(points.size(), bytes.size());
        EXPECT_EQ(points, oracle::decode(bytes).points);
    }
}

}  // namespace
}  // namespace decode_test
