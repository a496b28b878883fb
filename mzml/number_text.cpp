#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace mzml {
namespace {

char* put_literal(char* out, const char* text)
{
    const std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

}  // namespace

char* put_double(char* out, double value)
{
    if (std::isnan(value)) {
        return put_literal(out, "NaN");  // the sign of a NaN has no spelling
    }
    if (std::isinf(value)) {
        return put_literal(out, value < 0 ? "-INF" : "INF");
    }
    return std::to_chars(out, out + number_text_capacity, value).ptr;
}

char* put_unsigned(char* out, std::uint64_t value)
{
    return std::to_chars(out, out + number_text_capacity, value).ptr;
}

}  // namespace mzml
