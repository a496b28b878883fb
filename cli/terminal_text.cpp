#include "terminal_text.hpp"

#include <locale.h>
#include <wchar.h>

#include "tarvok/path_rules.hpp"

namespace convert {
namespace {

// Bytes of the sequence a lead byte starts, in text already valid.
std::size_t sequence_length(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

char32_t code_point(std::string_view sequence)
{
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(sequence[i])); };
    switch (sequence.size()) {
    case 1: return byte(0);
    case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// wcwidth answers for the calling thread's locale, which the program never
// sets: the widths come from a UTF-8 locale of its own.
int columns_of(char32_t c)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (c < 0x80 || utf8 == nullptr) {
        return 1;
    }
    const locale_t previous = ::uselocale(utf8);
    const int width = ::wcwidth(static_cast<wchar_t>(c));
    ::uselocale(previous);
    return width < 0 ? 1 : width;
}

}  // namespace

std::string harmless(std::string_view text, std::string_view replacement)
{
    const std::string valid = tarvok::path_rules::lossy_text(text);
    std::string shown;
    shown.reserve(valid.size());
    for (std::size_t at = 0; at < valid.size();) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(valid[at]));
        const std::string_view sequence = std::string_view(valid).substr(at, length);
        const char32_t c = code_point(sequence);
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            shown += replacement;
        } else {
            shown += sequence;
        }
        at += length;
    }
    return shown;
}

std::string cut_to_columns(std::string_view text, std::size_t columns)
{
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(text[at]));
        const auto width = static_cast<std::size_t>(columns_of(code_point(text.substr(at, length))));
        if (used + width > columns) {
            break;
        }
        used += width;
        at += length;
    }
    return std::string(text.substr(0, at));
}

}  // namespace convert
