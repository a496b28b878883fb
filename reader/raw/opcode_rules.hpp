#pragma once

#include <cstddef>
#include <cstdint>

#include "tarvok/raw/layout.hpp"

namespace tarvok::raw {

using layout::first_long_opcode;
using layout::operand_length;

// Where the end marker's bytes are read as raw bytes, whatever the opcodes.
inline bool end_marker_at(const std::uint8_t* bytes, std::size_t size, std::size_t at)
{
    static_assert(layout::end_marker_size == 4);
    constexpr std::uint8_t ff = layout::end_marker_byte;
    return at + 3 < size && bytes[at] == ff && bytes[at + 1] == ff && bytes[at + 2] == ff && bytes[at + 3] == ff;
}

// Decoding ends in front of the long opcode at `at`: it is the end marker, or
// its operand runs past the input.
inline bool stops_before(const std::uint8_t* bytes, std::size_t size, std::size_t at)
{
    return end_marker_at(bytes, size, at) || at + operand_length(bytes[at]) >= size;
}

inline std::uint32_t operand_value(const std::uint8_t* operand, unsigned length)
{
    std::uint32_t value = 0;
    for (unsigned k = 0; k < length; ++k) {
        value |= static_cast<std::uint32_t>(operand[k]) << (8U * k);
    }
    return value;
}

}  // namespace tarvok::raw
