#include <gtest/gtest.h>

#include "oracle/oracle.hpp"
#include "sample_writer/sample_writer.hpp"

namespace sample_writer {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct EncodingCase {
    const char* name;
    std::vector<Point> points;
    Bytes bytes;
};

class EncodePayload : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(EncodePayload, GivesTheShortestEncoding) {
    EXPECT_EQ(encode_payload(GetParam().points), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodePayload,
    ::testing::Values(
        EncodingCase{"empty", {}, {}},
        EncodingCase{"at_zero_no_delta", {{0, 3}}, {0x83}},
        EncodingCase{"shared_position", {{5, 3}, {5, 4}}, {0x05, 0x83, 0x84}},
        EncodingCase{"largest_one_byte_delta", {{127, 0}}, {0x7F, 0x80}},
        EncodingCase{"delta_just_past_one_byte", {{128, 0}}, {0x7F, 0x01, 0x80}},
        EncodingCase{"delta_of_two_full_bytes", {{254, 1}}, {0x7F, 0x7F, 0x81}},
        EncodingCase{"steps_are_relative", {{10, 3}, {30, 4}}, {0x0A, 0x83, 0x14, 0x84}},
        EncodingCase{"largest_inline_intensity", {{0, 123}}, {0xFB}},
        EncodingCase{"smallest_fc", {{0, 124}}, {0xFC, 0x7C}},
        EncodingCase{"largest_fc", {{0, 255}}, {0xFC, 0xFF}},
        EncodingCase{"smallest_fd", {{0, 256}}, {0xFD, 0x00, 0x01}},
        EncodingCase{"largest_fd", {{0, 0xFFFF}}, {0xFD, 0xFF, 0xFF}},
        EncodingCase{"smallest_fe", {{0, 0x10000}}, {0xFE, 0x00, 0x00, 0x01}},
        EncodingCase{"largest_fe", {{0, 0xFFFFFF}}, {0xFE, 0xFF, 0xFF, 0xFF}},
        EncodingCase{"smallest_ff", {{0, 0x1000000}}, {0xFF, 0x00, 0x00, 0x00, 0x01}},
        EncodingCase{"little_endian_ff", {{0, 0x12345678}}, {0xFF, 0x78, 0x56, 0x34, 0x12}}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

TEST(EncodePayloadRoundTrip, DecodesBackToTheSamePoints) {
    std::vector<Point> points;
    std::uint32_t position = 0;
    std::uint64_t state = 12345;
    for (int i = 0; i < 5000; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto high = static_cast<std::uint32_t>(state >> 32);
        position += (high & 0x3FF) < 900 ? (high & 0x7F) : (high & 0xFFFF);
        const std::uint32_t widths[] = {0x7F, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF};
        points.push_back({position, static_cast<std::uint32_t>(state) & widths[(high >> 16) % 5]});
    }
    const auto decoded = oracle::decode(encode_payload(points));
    ASSERT_TRUE(decoded.complete);
    ASSERT_EQ(decoded.points.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(decoded.points[i].position, points[i].position) << "point " << i;
        EXPECT_EQ(decoded.points[i].intensity, points[i].intensity) << "point " << i;
    }
}

}  // namespace
}  // namespace sample_writer
