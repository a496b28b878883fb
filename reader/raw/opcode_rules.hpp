#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvok::raw {

// Opcodes from here up carry 1 to 4 operand bytes.
inline constexpr std::uint8_t first_long_opcode = 0xFC;
inline constexpr std::uint8_t high_bit = 0x80;

inline unsigned operand_length(std::uint8_t opcode)
{
    return opcode - (first_long_opcode - 1U);
}

// Decoding ends in front of the long opcode at `at`: it is the end marker, or
// its operand runs past the input.
inline bool stops_before(const std::uint8_t* bytes, std::size_t size, std::size_t at)
{
    if (bytes[at] == 0xFF && at + 3 < size && bytes[at + 1] == 0xFF && bytes[at + 2] == 0xFF &&
        bytes[at + 3] == 0xFF) {
        return true;
    }
    return at + operand_length(bytes[at]) >= size;
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
