#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text for a line of the terminal, which must neither carry control
// sequences nor wrap.
namespace convert {

// Every invalid UTF-8 sequence becomes U+FFFD and every control character
// (C0, DEL and C1, U+0080 to U+009F) `replacement`.
std::string harmless(std::string_view text, std::string_view replacement);

// The longest start of valid UTF-8 text that takes at most `columns` columns,
// a sequence never split: a wide character counts two, a combining one none,
// anything else one.
std::string cut_to_columns(std::string_view text, std::size_t columns);

}  // namespace convert
