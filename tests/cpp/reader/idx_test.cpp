#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "fixtures.hpp"
#include "tarvok/raw/idx.hpp"

namespace {

using fixtures::Bytes;
using tarvok::raw::IdxRecord;

void put_u32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A stream of `length` bytes whose whole records carry the given block sizes.
Bytes stream_with_sizes(std::size_t length, std::initializer_list<std::uint32_t> sizes)
{
    Bytes bytes(length, 0);
    std::size_t at = 32;
    for (const std::uint32_t size : sizes) {
        if (at + 8 <= length) {
            put_u32(bytes, at + 4, size);
        }
        at += 54;
    }
    return bytes;
}

struct FailureRow {
    const char* name;
    Bytes stream;
    const char* message;
};

class IdxFailures : public testing::TestWithParam<FailureRow> {};

TEST_P(IdxFailures, FailWithParseMessage)
{
    const auto result = IdxRecord::parse_stream(GetParam().stream);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_parse());
    EXPECT_EQ(result.error().display(), std::string("parse error: ") + GetParam().message);
}

constexpr const char* too_short = "Idx stream too short for header";
constexpr const char* no_records = "Idx stream contained no valid scan records";

INSTANTIATE_TEST_SUITE_P(
    Streams, IdxFailures,
    testing::Values(FailureRow{"empty", Bytes{}, too_short}, FailureRow{"one_byte", Bytes(1, 0xFF), too_short},
                    FailureRow{"thirty_one", Bytes(31, 0xFF), too_short},
                    FailureRow{"header_only", Bytes(32, 0xFF), no_records},
                    // The incomplete record is ignored even though its size would pass.
                    FailureRow{"header_and_53", stream_with_sizes(85, {1000}), no_records},
                    FailureRow{"size_56", stream_with_sizes(86, {56}), no_records},
                    FailureRow{"sizes_0_and_20", stream_with_sizes(32 + 108, {0, 20}), no_records}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IdxRecords, SizeFilterIsUnsignedAndKeepsStreamOrder)
{
    const Bytes stream = stream_with_sizes(32 + 54 * 5, {57, 20, 4294967295U, 56, 100});
    const auto records = IdxRecord::parse_stream(stream);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 3U);
    EXPECT_EQ((*records)[0].block_size, 57U);
    EXPECT_EQ((*records)[1].block_size, 4294967295U);
    EXPECT_EQ((*records)[2].block_size, 100U);
}

TEST(IdxRecords, TrailingBytesAfterWholeRecordsAreIgnored)
{
    const Bytes stream = stream_with_sizes(32 + 54 * 3 + 10, {57, 58, 59});
    const auto records = IdxRecord::parse_stream(stream);
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(records->size(), 3U);
}

TEST(IdxRecords, FieldsAreTakenAsStored)
{
    const std::vector<std::uint8_t> codes = {1, 0, 2, 255};
    Bytes stream(32 + 54 * codes.size(), 0);
    const float nan_pattern = std::bit_cast<float>(0x7FC01234U);
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const std::size_t r = 32 + 54 * k;
        // Offsets decrease on purpose: nothing is sorted or validated.
        put_u32(stream, r, 4000000000U - static_cast<std::uint32_t>(k));
        put_u32(stream, r + 4, 1000 + static_cast<std::uint32_t>(k));
        put_u32(stream, r + 8, 0xDEADBEEF);
        put_u32(stream, r + 12, std::bit_cast<std::uint32_t>(k == 3 ? nan_pattern : 1.5F * static_cast<float>(k)));
        stream[r + 16] = codes[k];
        stream[r + 17] = 0xAA;
        for (std::size_t i = 0; i < 16; ++i) {
            stream[r + 18 + i] = static_cast<std::uint8_t>(k * 16 + i);
        }
        std::memset(&stream[r + 34], 0xCC, 20);
    }
    const auto records = IdxRecord::parse_stream(stream);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 4U);
    const std::uint32_t levels[] = {1, 2, 2, 2};
    for (std::size_t k = 0; k < 4; ++k) {
        const IdxRecord& r = (*records)[k];
        EXPECT_EQ(r.block_offset, 4000000000U - k);
        EXPECT_EQ(r.block_size, 1000 + k);
        EXPECT_EQ(r.ms_level, levels[k]);
        for (std::size_t i = 0; i < 16; ++i) {
            EXPECT_EQ(r.opaque[i], k * 16 + i);
        }
    }
    EXPECT_EQ((*records)[2].retention_time_min, 3.0F);
    EXPECT_EQ(std::bit_cast<std::uint32_t>((*records)[3].retention_time_min), 0x7FC01234U);
}

}  // namespace
