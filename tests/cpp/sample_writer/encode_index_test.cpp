#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "sample_writer/sample_writer.hpp"

namespace sample_writer {
namespace {

std::uint32_t u32_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

TEST(EncodeIndex, SizeIsHeaderRecordsAndTrailing) {
    const std::vector<IndexEntry> three(3);
    EXPECT_EQ(encode_index({}).size(), 32U);
    EXPECT_EQ(encode_index({}, 53).size(), 85U);
    EXPECT_EQ(encode_index(three).size(), 32U + 3 * 54);
    EXPECT_EQ(encode_index(three, 10).size(), 32U + 3 * 54 + 10);
}

TEST(EncodeIndex, FieldsLandAtTheirRecordOffsetsAndEverythingElseIsZero) {
    IndexEntry first{.block_offset = 0x11223344,
                     .block_size = 0xFFFFFFFF,
                     .retention_time_min = 12.5F,
                     .ms_level_code = 1,
                     .opaque = {}};
    IndexEntry second{.block_offset = 0x0A0B0C0D,
                      .block_size = 57,
                      .retention_time_min = -0.0F,
                      .ms_level_code = 255,
                      .opaque = {}};
    for (std::uint8_t i = 0; i < 16; ++i) {
        first.opaque[i] = static_cast<std::uint8_t>(0xA0 + i);
        second.opaque[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    const std::vector<IndexEntry> entries{first, second};
    const std::vector<std::uint8_t> bytes = encode_index(entries, 7);

    std::vector<bool> written(bytes.size(), false);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const std::size_t record = 32 + 54 * k;
        const IndexEntry& entry = entries[k];
        EXPECT_EQ(u32_at(bytes, record + 0), entry.block_offset);
        EXPECT_EQ(u32_at(bytes, record + 4), entry.block_size);
        EXPECT_EQ(u32_at(bytes, record + 12), std::bit_cast<std::uint32_t>(entry.retention_time_min));
        EXPECT_EQ(bytes[record + 16], entry.ms_level_code);
        EXPECT_EQ(std::memcmp(&bytes[record + 18], entry.opaque.data(), 16), 0);
        for (std::size_t at : {0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16}) {
            written[record + at] = true;
        }
        for (std::size_t at = 18; at < 34; ++at) {
            written[record + at] = true;
        }
    }
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (!written[at]) {
            EXPECT_EQ(bytes[at], 0) << "byte " << at;
        }
    }
}

}  // namespace
}  // namespace sample_writer
