#include "terminal_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace convert {
namespace {

// The edges of the control ranges, and invalid bytes, under both
// replacements the programs use.
TEST(Harmless, ReplacesExactlyTheControlCharacters)
{
    struct Case {
        std::string_view text;
        std::string_view replacement;
        std::string_view shown;
    };
    const Case cases[] = {
        {"\x1F \x7E\x7F", "?", "? \x7E?"},
        {"\xC2\x80\xC2\x9F\xC2\xA0", "?", "??\xC2\xA0"},
        {"\x1B[2J\xFF", "?", "?[2J\xEF\xBF\xBD"},
        {"\x1F \x7E\x7F", "\xEF\xBF\xBD", "\xEF\xBF\xBD \x7E\xEF\xBF\xBD"},
        {"\xC2\x9F\xC2\xA0\xE2\x80\xA8", "\xEF\xBF\xBD", "\xEF\xBF\xBD\xC2\xA0\xE2\x80\xA8"},
        {std::string_view("a\0b", 3), "?", "a?b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(harmless(c.text, c.replacement), c.shown) << c.text;
    }
}

}  // namespace
}  // namespace convert
