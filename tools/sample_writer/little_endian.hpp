#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sample_writer {

inline void put_u32_le(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace sample_writer
