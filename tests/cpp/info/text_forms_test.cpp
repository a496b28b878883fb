#include "text_forms.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <string>

namespace info {
namespace {

struct Lossy {
    std::string in;
    std::string out;
};

// U+FFFD is EF BF BD; one per maximal invalid subpart, as Python's "replace" does.
class LossyUtf8 : public testing::TestWithParam<Lossy> {};

TEST_P(LossyUtf8, ReplacesEachMaximalInvalidSubpart)
{
    EXPECT_EQ(lossy_utf8(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Sequences, LossyUtf8, testing::Values(
    Lossy{"plain \xC3\xA9 \xF0\x9F\x98\x80", "plain \xC3\xA9 \xF0\x9F\x98\x80"},
    Lossy{"\xFF", "\xEF\xBF\xBD"},
    Lossy{"\xE2\x82", "\xEF\xBF\xBD"},                      // cut short at the end
    Lossy{"\xE2\x82x", "\xEF\xBF\xBDx"},
    Lossy{"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong lead
    Lossy{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
    Lossy{"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
    Lossy{"\xF0\x9F\x98", "\xEF\xBF\xBD"},
    Lossy{std::string("a\0b", 3), std::string("a\0b", 3)}));

TEST(JsonString, EscapesQuotesBackslashesAndEveryControlCharacter)
{
    std::string out;
    append_json_string(out, "q\"\\\n\t\x01\x1F\x7F\xC2\x9B\xE2\x80\xA8\xFF");
    EXPECT_EQ(out, "\"q\\\"\\\\\\n\\t\\u0001\\u001f\\u007f\\u009b\xE2\x80\xA8\xEF\xBF\xBD\"");
}

TEST(HtmlText, EscapesMarkupAndHidesControls)
{
    std::string out;
    append_html_text(out, "<a href='x'>&\"\x1B[2J\xC2\x85");
    EXPECT_EQ(out, "&lt;a href=&#39;x&#39;&gt;&amp;&quot;\xEF\xBF\xBD[2J\xEF\xBF\xBD");
}

TEST(Numbers, ReadBackToTheSameDouble)
{
    for (const double value : {0.1, 1e-300, 5e-324, 1.7976931348623157e308, -0.0, 3600.0, 0.18000000156462193}) {
        std::string text;
        append_number(text, value);
        double read = 0;
        std::from_chars(text.data(), text.data() + text.size(), read);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(value)) << text;
    }
    std::string text;
    append_number(text, 3600.0);
    EXPECT_EQ(text, "3600");
}

}  // namespace
}  // namespace info
