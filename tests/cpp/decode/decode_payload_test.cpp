#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "oracle/oracle.hpp"
#include "payload_cases.hpp"
#include "tarvok/raw/scan.hpp"

namespace decode_test {
namespace {

// decode_payload sizes its list from a count of the bytes with the high bit
// set, taken 8 at a time in batches of 255 words: lengths around the batch
// and word edges, each in an allocation of exactly its size, against the
// oracle.
TEST(DecodePayload, AgreesWithTheOracleAtEveryCountingEdge)
{
    for (const PayloadShape& shape : payload_shapes()) {
        std::mt19937_64 random(17);
        for (const std::size_t length : {0, 1, 7, 8, 9, 2039, 2040, 2041, 2047, 2048, 4081, 20000}) {
            const Bytes bytes = shape.make(random, length);
            const auto exact = std::make_unique_for_overwrite<std::uint8_t[]>(length);
            std::copy(bytes.begin(), bytes.end(), exact.get());
            const std::span<const std::uint8_t> payload(exact.get(), length);
            ASSERT_EQ(tarvok::raw::decode_payload(payload), oracle::decode(payload).points)
                << shape.name << " length " << length;
        }
    }
}

// Every byte a point: the list fills to its bound and the kernels' whole-vector
// stores reach into the slack.
TEST(DecodePayload, EveryByteAPoint)
{
    const Bytes bytes(5000, 0x85);
    const std::vector<tarvok::raw::ScanPoint> points = tarvok::raw::decode_payload(bytes);
    ASSERT_EQ(points.size(), bytes.size());
    EXPECT_EQ(points, oracle::decode(bytes).points);
}

}  // namespace
}  // namespace decode_test
