#include <glib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "file_location.hpp"
#include "xml_text.hpp"

namespace {

const std::string fffd = "\xEF\xBF\xBD";

std::string escaped(std::string_view text)
{
    std::string out;
    mzml::append_xml_text(out, text);
    return out;
}

struct EscapeCase {
    const char* what;
    std::string in;
    std::string out;
};

TEST(XmlText, EscapesAndRepairs)
{
    const EscapeCase cases[] = {
        {"plain", "sample 01", "sample 01"},
        {"metacharacters", "a&b<c>\"d'e", "a&amp;b&lt;c&gt;&quot;d&apos;e"},
        {"end of CDATA", "]]>", "]]&gt;"},
        {"kept white space", "a\tb\nc\rd", "a&#9;b&#10;c&#13;d"},
        {"two, three, four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"C1 controls are XML characters", "\xC2\x85", "\xC2\x85"},
        {"NUL and C0 controls", std::string("a\0b\x01\x1F", 5), "a" + fffd + "b" + fffd + fffd},
        {"U+FFFE and U+FFFF", "\xEF\xBF\xBE\xEF\xBF\xBF", fffd + fffd},
        {"U+FFFD itself", fffd, fffd},
        {"lone continuation bytes", "\x80\xBF", fffd + fffd},
        {"bytes never in UTF-8", "\xC0\xC1\xF5\xFF", fffd + fffd + fffd + fffd},
        {"overlong slash", "\xC0\xAF", fffd + fffd},
        {"overlong three bytes", "\xE0\x80\xAF", fffd + fffd + fffd},
        {"surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"truncated four bytes: one maximal subpart", "\xF0\x9F\x98x", fffd + "x"},
        {"truncated at the end", "ab\xE2\x82", "ab" + fffd},
        {"lead then lead", "\xC3\xC3\xA9", fffd + "\xC3\xA9"},
    };
    for (const EscapeCase& c : cases) {
        EXPECT_EQ(escaped(c.in), c.out) << c.what;
    }
}

// Whatever comes in, what goes out is UTF-8 of XML characters without a raw metacharacter.
TEST(XmlText, AnyBytesGiveSafeText)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 20000; ++round) {
        std::string in(rng() % 24, '\0');
        for (char& c : in) {
            // Mostly high bytes, where the decoding is intricate.
            c = static_cast<char>(rng() % 3 == 0 ? rng() % 0x80 : 0x80 + rng() % 0x80);
        }
        const std::string out = escaped(in);
        ASSERT_TRUE(g_utf8_validate(out.data(), static_cast<gssize>(out.size()), nullptr));
        for (const char* p = out.c_str(); *p != '\0'; p = g_utf8_next_char(p)) {
            const gunichar c = g_utf8_get_char(p);
            ASSERT_TRUE(c >= 0x20 && c != 0xFFFE && c != 0xFFFF) << std::hex << c;
            ASSERT_TRUE(c != '<' && c != '>' && c != '"' && c != '\'');
        }
        ASSERT_EQ(out.find('\0'), std::string::npos);
    }
}

TEST(XmlText, NcNames)
{
    const std::pair<std::string, std::string> cases[] = {
        {"sample01", "sample01"},
        {"", "_"},
        {"7 mix", "_7_mix"},
        {"-x", "_-x"},
        {".x", "_.x"},
        {"_x", "_x"},
        {"a:b c&d", "a_b_c_d"},
        {"caf\xC3\xA9", "caf_"},
        {"\xC3\xA9t\xC3\xA9", "_t_"},
        {"x\xFF\xFE", "x__"},
        {"x\xF0\x9F\x98", "x_"},
        {"A.b-c_9", "A.b-c_9"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(mzml::ncname_from(in), out) << in;
    }
}

TEST(FileLocation, NameAndEscapedDirectory)
{
    struct Case {
        std::string path;
        std::string name;
        std::string uri;
    };
    const Case cases[] = {
        {"/data/run1.wiff", "run1.wiff", "file:///data"},
        {"/data/a b/x&y#1?%.wiff", "x&y#1?%.wiff", "file:///data/a%20b"},
        {"/d/./e/../f/s.wiff", "s.wiff", "file:///d/f"},
        {"/caf\xC3\xA9/\xFF.wiff", "\xFF.wiff", "file:///caf%C3%A9"},
        {"/top.wiff", "top.wiff", "file:///"},
    };
    for (const Case& c : cases) {
        const auto location = mzml::locate_file(c.path);
        ASSERT_TRUE(location.has_value());
        EXPECT_EQ(location->name, c.name) << c.path;
        EXPECT_EQ(location->directory_uri, c.uri) << c.path;
    }
    const auto relative = mzml::locate_file("sub dir/r.wiff");
    ASSERT_TRUE(relative.has_value());
    gchar* cwd = g_get_current_dir();
    gchar* expected = g_filename_to_uri(cwd, nullptr, nullptr);
    EXPECT_EQ(relative->directory_uri, std::string(expected) + "/sub%20dir");
    g_free(expected);
    g_free(cwd);
}

}  // namespace
