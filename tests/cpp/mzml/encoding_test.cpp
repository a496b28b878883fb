#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "mzml/base64.hpp"
#include "number_text.hpp"
#include "output_stream.hpp"
#include "text_buffer.hpp"

namespace {

std::string glib_base64(const std::vector<unsigned char>& bytes)
{
    gchar* encoded = g_base64_encode(bytes.data(), bytes.size());
    std::string text(encoded);
    g_free(encoded);
    return text;
}

std::vector<unsigned char> random_bytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<unsigned char> bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

std::string ours(const std::vector<unsigned char>& bytes)
{
    // One byte more than needed, to catch a write past the end.
    std::string text(mzml::base64_length(bytes.size()) + 1, '#');
    mzml::base64_encode(std::as_bytes(std::span(bytes)), text.data());
    EXPECT_EQ(text.back(), '#');
    text.pop_back();
    return text;
}

TEST(Base64, MatchesGlibOnEveryShortLength)
{
    for (std::size_t n = 0; n <= 300; ++n) {
        const auto bytes = random_bytes(n, static_cast<std::uint32_t>(n));
        ASSERT_EQ(ours(bytes), glib_base64(bytes)) << n << " bytes";
    }
}

TEST(Base64, MatchesGlibOnExtremeBytes)
{
    for (const unsigned char fill : {0x00, 0xFF, 0x80, 0x7F}) {
        for (const std::size_t n : {1U, 2U, 3U, 7U, 8U, 9U, 4097U}) {
            const std::vector<unsigned char> bytes(n, fill);
            ASSERT_EQ(ours(bytes), glib_base64(bytes)) << n << " bytes of " << int{fill};
        }
    }
}

class CollectSink final : public mzml::ByteSink {
public:
    std::expected<void, int> write(std::span<const char> bytes) override
    {
        text.append(bytes.data(), bytes.size());
        ++writes;
        return {};
    }
    std::string text;
    int writes = 0;
};

// However the buffer splits an array, the characters are those of one encoding,
// and every write but the last is a full buffer.
TEST(Base64, StreamedThroughAnyBufferSizeMatchesGlib)
{
    for (const std::size_t capacity : {4U, 5U, 6U, 7U, 8U, 13U, 64U, 4096U}) {
        for (const std::size_t n : {0U, 1U, 2U, 3U, 5U, 6U, 100U, 9999U}) {
            const auto bytes = random_bytes(n, static_cast<std::uint32_t>(capacity * 31 + n));
            CollectSink sink;
            mzml::OutputStream out(sink, capacity);
            out.put("<");
            out.put_base64(std::as_bytes(std::span(bytes)));
            out.put(">");
            out.flush();
            std::string expected = "<";
            expected += glib_base64(bytes);
            expected += '>';
            ASSERT_EQ(sink.text, expected) << "capacity " << capacity << ", " << n << " bytes";
            ASSERT_EQ(out.position(), sink.text.size());
            // Only full buffers but the last: the writes split the document by its bytes alone.
            ASSERT_EQ(sink.writes, static_cast<int>((expected.size() + capacity - 1) / capacity));
        }
    }
}

// However far the text before it grew the buffer, the characters are those of one encoding.
TEST(Base64, IntoAGrowingTextBufferMatchesGlib)
{
    for (const std::size_t before : {0U, 1U, 7U, 4096U}) {
        for (const std::size_t n : {0U, 1U, 2U, 3U, 5U, 6U, 100U, 9999U}) {
            const auto bytes = random_bytes(n, static_cast<std::uint32_t>(before * 31 + n));
            const std::string lead(before, '<');
            mzml::TextBuffer text;
            text.put(lead);
            text.put_base64(std::as_bytes(std::span(bytes)));
            text.put(">");
            ASSERT_EQ(text.text(), lead + glib_base64(bytes) + ">") << before << " bytes before, " << n << " bytes";
        }
    }
}

std::string text_of(double v)
{
    char buffer[mzml::number_text_capacity];
    return std::string(buffer, mzml::put_double(buffer, v));
}

// xs:double's lexical space, with the exponent sign C++ writes.
const std::regex xs_double(R"(-?(\d+(\.\d*)?|\.\d+)([eE][-+]?\d+)?|NaN|INF|-INF)");

void expect_round_trip(double v)
{
    const std::string text = text_of(v);
    ASSERT_TRUE(std::regex_match(text, xs_double)) << text;
    ASSERT_LE(text.size(), 24U) << text;
    if (std::isnan(v)) {
        ASSERT_EQ(text, "NaN");
        return;
    }
    // strtod knows the upper-case spellings, so every text is read by one parser.
    const double back = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
}

TEST(NumberText, SpecialValuesAreSpelledAsXsDouble)
{
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {-0.0, "-0"},
        {0.0, "0"},
        {0.1, "0.1"},
        {100.5, "100.5"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {static_cast<double>(0.1f), "0.10000000149011612"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_of(c.value), c.text);
        expect_round_trip(c.value);
    }
}

// Where a shortest text is hardest to get right: the ends of the subnormal
// and normal ranges, the longest text, ties at 2^53, the switch between
// fixed and scientific notation.
TEST(NumberText, BoundaryDoublesReadBackToTheirBits)
{
    using limits = std::numeric_limits<double>;
    for (const double v : {limits::denorm_min(), -limits::denorm_min(), std::nextafter(limits::min(), 0.0),
                           limits::min(), -limits::min(), limits::max(), -limits::max(), limits::epsilon(),
                           1.0 + limits::epsilon(), 1e23, 9007199254740993.0, 9007199254740992.0, 1.0 / 3.0, 1e-7,
                           1e21, 1e22, 123456789012345680.0}) {
        expect_round_trip(v);
    }
    EXPECT_EQ(text_of(-limits::min()), "-2.2250738585072014e-308");
}

// Any bits at all, beyond the boundaries chosen above.
TEST(NumberText, RandomDoublesReadBackToTheirBits)
{
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        ASSERT_NO_FATAL_FAILURE(expect_round_trip(v)) << std::hex << bits;
    }
}

// The writer gives float values as doubles: the text must read back to the same float as well.
TEST(NumberText, BoundaryFloatsAsDoublesReadBackAsFloats)
{
    using limits = std::numeric_limits<float>;
    for (const float f : {limits::denorm_min(), std::nextafter(limits::min(), 0.0F), limits::min(), limits::max(),
                          -limits::max(), limits::epsilon(), 0.1F, 1.0F / 3.0F, 16777217.0F, -0.0F}) {
        const std::string text = text_of(f);
        const float back = std::strtof(text.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
}

TEST(NumberText, RandomFloatsAsDoublesReadBackAsFloats)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = rng();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isnan(f)) {
            continue;
        }
        const std::string text = text_of(f);
        const float back = std::strtof(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
}

TEST(NumberText, UnsignedExtremes)
{
    char buffer[mzml::number_text_capacity];
    EXPECT_EQ(std::string(buffer, mzml::put_unsigned(buffer, 0)), "0");
    EXPECT_EQ(std::string(buffer, mzml::put_unsigned(buffer, UINT64_MAX)), "18446744073709551615");
}

}  // namespace
