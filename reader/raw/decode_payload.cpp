#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {

std::vector<ScanPoint> decode_payload(std::span<const std::uint8_t> bytes)
{
    std::vector<ScanPoint> points;
    const std::size_t n = bytes.size();
    const std::uint8_t* b = bytes.data();
    std::uint32_t position = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = b[i];
        if (c <= 0x7F) {
            position += c;
            i += 1;
        } else if (c <= 0xFB) {
            points.push_back({position, static_cast<std::uint32_t>(c - 0x80U)});
            i += 1;
        } else if (c == 0xFC) {
            if (i + 1 >= n) {
                break;
            }
            points.push_back({position, b[i + 1]});
            i += 2;
        } else if (c == 0xFD) {
            if (i + 2 >= n) {
                break;
            }
            points.push_back({position, b[i + 1] | static_cast<std::uint32_t>(b[i + 2]) << 8U});
            i += 3;
        } else if (c == 0xFE) {
            if (i + 3 >= n) {
                break;
            }
            points.push_back({position, b[i + 1] | static_cast<std::uint32_t>(b[i + 2]) << 8U |
                                            static_cast<std::uint32_t>(b[i + 3]) << 16U});
            i += 4;
        } else {
            if (i + 3 < n && b[i + 1] == 0xFF && b[i + 2] == 0xFF && b[i + 3] == 0xFF) {
                break;
            }
            if (i + 4 >= n) {
                break;
            }
            points.push_back({position, b[i + 1] | static_cast<std::uint32_t>(b[i + 2]) << 8U |
                                            static_cast<std::uint32_t>(b[i + 3]) << 16U |
                                            static_cast<std::uint32_t>(b[i + 4]) << 24U});
            i += 5;
        }
    }
    return points;
}

}  // namespace tarvok::raw
