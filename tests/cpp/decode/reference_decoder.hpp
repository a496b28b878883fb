#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tarvok/raw/scan.hpp"

// The decoding rules transcribed one opcode at a time, as the oracle for the
// library's fast paths.
namespace decode_test {

inline std::vector<tarvok::raw::ScanPoint> reference_decode(std::span<const std::uint8_t> b)
{
    std::vector<tarvok::raw::ScanPoint> points;
    std::uint32_t position = 0;
    const std::size_t n = b.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = b[i];
        if (c <= 0x7F) {
            position += c;
            i += 1;
            continue;
        }
        if (c <= 0xFB) {
            points.push_back({position, c - 0x80U});
            i += 1;
            continue;
        }
        if (c == 0xFF && i + 3 < n && b[i + 1] == 0xFF && b[i + 2] == 0xFF && b[i + 3] == 0xFF) {
            break;
        }
        const std::size_t operand_bytes = c - 0xFBU;
        if (i + operand_bytes >= n) {
            break;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < operand_bytes; ++k) {
            value += static_cast<std::uint32_t>(b[i + 1 + k]) << (8 * k);
        }
        points.push_back({position, value});
        i += 1 + operand_bytes;
    }
    return points;
}

inline std::size_t reference_payload_length(std::span<const std::uint8_t> b)
{
    for (std::size_t j = 0; j + 4 <= b.size(); ++j) {
        if (b[j] == 0xFF && b[j + 1] == 0xFF && b[j + 2] == 0xFF && b[j + 3] == 0xFF) {
            return j;
        }
    }
    return b.size();
}

}  // namespace decode_test
