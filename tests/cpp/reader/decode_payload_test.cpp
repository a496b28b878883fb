#include <gtest/gtest.h>

#include "fixtures.hpp"
#include "tarvok/raw/scan.hpp"

namespace {

using fixtures::Bytes;
using tarvok::raw::ScanPoint;
using Points = std::vector<ScanPoint>;

struct Row {
    Bytes input;
    Points points;
};

class DecodePayload : public testing::TestWithParam<Row> {};

TEST_P(DecodePayload, GivesExactlyThesePoints)
{
    EXPECT_EQ(tarvok::raw::decode_payload(GetParam().input), GetParam().points);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodePayload,
    testing::Values(Row{{}, {}}, Row{{0x05, 0x83}, {{5, 3}}}, Row{{0x05, 0x83, 0x84}, {{5, 3}, {5, 4}}},
                    Row{{0x05, 0x83, 0x02, 0xFC, 0xC8}, {{5, 3}, {7, 200}}},
                    Row{{0x0A, 0x83, 0x0A, 0x0A, 0x84}, {{10, 3}, {30, 4}}},
                    Row{{0x7F, 0x7F, 0x80}, {{254, 0}}}, Row{{0x00, 0x00, 0x00, 0x83}, {{0, 3}}},
                    Row{{0xFB}, {{0, 123}}}, Row{{0xFC, 0x7C}, {{0, 124}}}, Row{{0xFD, 0x34, 0x12}, {{0, 4660}}},
                    Row{{0xFE, 0x56, 0x34, 0x12}, {{0, 1193046}}},
                    Row{{0xFF, 0x78, 0x56, 0x34, 0x12}, {{0, 305419896}}},
                    Row{{0xFF, 0xFF, 0xFF, 0xFF, 0x83}, {}}, Row{{0xFF, 0xFF, 0xFF, 0x00, 0x00}, {{0, 65535}}},
                    Row{{0x83, 0xFC}, {{0, 3}}}, Row{{0x83, 0xFD, 0x01}, {{0, 3}}},
                    Row{{0x83, 0xFE, 0x01, 0x02}, {{0, 3}}}, Row{{0x83, 0xFF, 0x01, 0x02, 0x03}, {{0, 3}}},
                    Row{{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}, {{0, 16777215}, {0, 1}}},
                    Row{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {}}, Row{{0xFF, 0xFE, 0xFF, 0xFF, 0xFF}, {{0, 4294967294U}}},
                    Row{{0x83, 0xFF, 0xFF, 0xFF, 0xFF, 0x84}, {{0, 3}}}));

TEST(DecodePayload, PositionWrapsModulo32Bits)
{
    // 2^32 - 1 as deltas: 0x7F repeated, then the remainder.
    constexpr std::uint64_t target = 4294967295ULL;
    Bytes input(static_cast<std::size_t>(target / 0x7F), 0x7F);
    input.push_back(static_cast<std::uint8_t>(target % 0x7F));
    input.push_back(0x81);
    input.push_back(0x02);
    input.push_back(0x82);
    const Points points = tarvok::raw::decode_payload(input);
    const Points expected = {{4294967295U, 1}, {1, 2}};
    EXPECT_EQ(points, expected);
}

}  // namespace
