#include "text_forms.hpp"

#include <charconv>
#include <cstdio>

namespace info {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// The length of the valid sequence at the start of `text`, or 0 and in
// `invalid` the length of the maximal subpart to replace.
std::size_t valid_sequence(std::string_view text, std::size_t& invalid)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        second_low = lead == 0xE0 ? 0xA0 : 0x80;
        second_high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        second_low = lead == 0xF0 ? 0x90 : 0x80;
        second_high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        invalid = 1;
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char low = i == 1 ? second_low : 0x80;
        const unsigned char high = i == 1 ? second_high : 0xBF;
        if (i >= text.size() || byte(i) < low || byte(i) > high) {
            invalid = i;
            return 0;
        }
    }
    return length;
}

bool is_control(std::string_view character)
{
    const auto first = static_cast<unsigned char>(character[0]);
    if (character.size() == 1) {
        return first < 0x20 || first == 0x7F;
    }
    // C1: U+0080 to U+009F, C2 80 to C2 9F.
    return character.size() == 2 && first == 0xC2 && static_cast<unsigned char>(character[1]) <= 0x9F;
}

// Calls `emit` with each character of `text`, as valid UTF-8; each invalid
// subpart comes as U+FFFD.
template <typename Emit>
void for_each_character(std::string_view text, Emit emit)
{
    while (!text.empty()) {
        std::size_t invalid = 0;
        const std::size_t length = valid_sequence(text, invalid);
        if (length == 0) {
            emit(replacement);
            text.remove_prefix(invalid);
        } else {
            emit(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
}

}  // namespace

std::string lossy_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for_each_character(text, [&](std::string_view character) { out += character; });
    return out;
}

std::string harmless_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for_each_character(text, [&](std::string_view character) {
        out += is_control(character) ? replacement : character;
    });
    return out;
}

void append_json_string(std::string& out, std::string_view text)
{
    out += '"';
    for_each_character(text, [&](std::string_view character) {
        if (character == "\"") {
            out += "\\\"";
        } else if (character == "\\") {
            out += "\\\\";
        } else if (character == "\n") {
            out += "\\n";
        } else if (character == "\t") {
            out += "\\t";
        } else if (is_control(character)) {
            const unsigned code = character.size() == 1 ? static_cast<unsigned char>(character[0])
                                                        : static_cast<unsigned char>(character[1]);
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out += character;
        }
    });
    out += '"';
}

void append_html_text(std::string& out, std::string_view text)
{
    for (const char c : harmless_text(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
}

void append_number(std::string& out, double value)
{
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

void append_number(std::string& out, std::uint64_t value)
{
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace info
