#include "text_forms.hpp"

#include <charconv>
#include <cstdio>

#include "../terminal_text.hpp"
#include "tarvok/path_rules.hpp"

namespace info {
namespace {

// Bytes of the sequence a lead byte starts, in text already valid.
std::size_t sequence_length(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
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
    const std::string valid = tarvok::path_rules::lossy_text(text);
    for (std::size_t at = 0; at < valid.size();) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(valid[at]));
        emit(std::string_view(valid).substr(at, length));
        at += length;
    }
}

}  // namespace

std::string harmless_text(std::string_view text)
{
    return convert::harmless(text, "\xEF\xBF\xBD");
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
