#pragma once

#include <cstdint>
#include <vector>

namespace sample_writer {

// Largest step one delta opcode can carry.
inline constexpr std::uint32_t max_delta_byte = 0x7F;
// Largest intensity that fits in a one-byte opcode.
inline constexpr std::uint32_t max_inline_intensity = 0x7B;

inline void append_delta(std::vector<std::uint8_t>& out, std::uint32_t step) {
    for (; step > max_delta_byte; step -= max_delta_byte) {
        out.push_back(static_cast<std::uint8_t>(max_delta_byte));
    }
    if (step != 0) {
        out.push_back(static_cast<std::uint8_t>(step));
    }
}

inline void append_intensity(std::vector<std::uint8_t>& out, std::uint32_t value) {
    if (value <= max_inline_intensity) {
        out.push_back(static_cast<std::uint8_t>(0x80 + value));
        return;
    }
    std::uint32_t operand_bytes = 4;
    if (value <= 0xFFU) {
        operand_bytes = 1;
    } else if (value <= 0xFFFFU) {
        operand_bytes = 2;
    } else if (value <= 0xFFFFFFU) {
        operand_bytes = 3;
    }
    out.push_back(static_cast<std::uint8_t>(0xFB + operand_bytes));
    for (std::uint32_t i = 0; i < operand_bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace sample_writer
