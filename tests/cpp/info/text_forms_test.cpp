#include "text_forms.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <string>

namespace info {
namespace {

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
