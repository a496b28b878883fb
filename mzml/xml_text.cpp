#include "xml_text.hpp"

#include <cstdint>
#include <optional>

namespace mzml {
namespace {

struct Decoded {
    std::optional<char32_t> code_point;  // absent for an invalid sequence
    std::size_t length = 0;              // bytes consumed, at least 1
};

bool continuation_in(unsigned char byte, unsigned char low, unsigned char high)
{
    return byte >= low && byte <= high;
}

// Well-formed UTF-8 as the Unicode standard's table of byte sequences
// defines it: no overlong forms, no surrogates, nothing above U+10FFFF.
Decoded decode_one(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {std::nullopt, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) {
            return {std::nullopt, i};
        }
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!continuation_in(byte, i == 1 ? low : 0x80, i == 1 ? high : 0xBF)) {
            return {std::nullopt, i};
        }
        value = (value << 6) | (byte & 0x3F);
    }
    return {value, length};
}

bool xml_char(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           c >= 0x10000;
}

bool ncname_ascii(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

constexpr std::string_view replacement = "\xEF\xBF\xBD";

}  // namespace

void append_xml_text(std::string& out, std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const Decoded d = decode_one(text, at);
        if (!d.code_point || !xml_char(*d.code_point)) {
            out += replacement;
        } else {
            switch (*d.code_point) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default: out.append(text.substr(at, d.length));
            }
        }
        at += d.length;
    }
}

std::string ncname_from(std::string_view text)
{
    std::string name;
    for (std::size_t at = 0; at < text.size();) {
        const Decoded d = decode_one(text, at);
        name += d.code_point && ncname_ascii(*d.code_point) ? static_cast<char>(*d.code_point) : '_';
        at += d.length;
    }
    const bool starts_well =
        !name.empty() && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z') || name[0] == '_');
    if (!starts_well) {
        name.insert(name.begin(), '_');
    }
    return name;
}

}  // namespace mzml
