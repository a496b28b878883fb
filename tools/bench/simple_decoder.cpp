#include "simple_decoder.hpp"

namespace bench {

std::vector<tarvok::raw::ScanPoint> simple_decode(std::span<const std::uint8_t> bytes)
{
    std::vector<tarvok::raw::ScanPoint> points;
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::uint32_t position = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = b[i];
        switch (c) {
        case 0xFC:
            if (i + 1 >= n) {
                return points;
            }
            points.push_back({position, b[i + 1]});
            i += 2;
            break;
        case 0xFD:
            if (i + 2 >= n) {
                return points;
            }
            points.push_back({position, b[i + 1] | std::uint32_t{b[i + 2]} << 8U});
            i += 3;
            break;
        case 0xFE:
            if (i + 3 >= n) {
                return points;
            }
            points.push_back({position, b[i + 1] | std::uint32_t{b[i + 2]} << 8U | std::uint32_t{b[i + 3]} << 16U});
            i += 4;
            break;
        case 0xFF:
            if ((i + 3 < n && b[i + 1] == 0xFF && b[i + 2] == 0xFF && b[i + 3] == 0xFF) || i + 4 >= n) {
                return points;
            }
            points.push_back({position, b[i + 1] | std::uint32_t{b[i + 2]} << 8U | std::uint32_t{b[i + 3]} << 16U |
                                            std::uint32_t{b[i + 4]} << 24U});
            i += 5;
            break;
        default:
            if (c < 0x80) {
                position += c;
            } else {
                points.push_back({position, c - 0x80U});
            }
            i += 1;
            break;
        }
    }
    return points;
}

}  // namespace bench
