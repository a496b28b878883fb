#pragma once

#include <cstddef>
#include <cstdint>

namespace mzml {

// Room for the longest text of either function.
constexpr std::size_t number_text_capacity = 32;

// The shortest text that reads back to the same double; NaN and the
// infinities as xs:double spells them ("NaN", "INF", "-INF"). Returns the end.
char* put_double(char* out, double value);

char* put_unsigned(char* out, std::uint64_t value);

}  // namespace mzml
