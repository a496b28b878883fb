#pragma once

#include <cstdint>

// Both on-disk formats the reader parses store their integers little-endian.
namespace tarvok {

inline std::uint16_t load_u16le(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8U);
}

inline std::uint32_t load_u32le(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
           static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

}  // namespace tarvok
