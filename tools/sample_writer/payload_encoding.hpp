#pragma once

#include <cstdint>
#include <vector>

#include "tarvok/raw/layout.hpp"

namespace sample_writer {

namespace layout = tarvok::raw::layout;

// Largest step one delta opcode can carry.
inline constexpr std::uint32_t max_delta_byte = layout::last_delta_opcode;
// Largest intensity that fits in a one-byte opcode.
inline constexpr std::uint32_t max_inline_intensity = layout::last_short_point_opcode - layout::first_short_point_opcode;

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
        out.push_back(static_cast<std::uint8_t>(layout::first_short_point_opcode + value));
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
    out.push_back(static_cast<std::uint8_t>(layout::first_long_opcode - 1 + operand_bytes));
    for (std::uint32_t i = 0; i < operand_bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace sample_writer
