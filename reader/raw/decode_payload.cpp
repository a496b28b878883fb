#include <cstring>

#include "payload_kernels.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Only bytes with the high bit set can be points: the list is sized once.
// Each byte's high bit is added up in a lane of its own, up to 255 words at a
// time, so that no population count instruction is needed.
std::size_t point_bound(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint64_t low_bits = 0x0101010101010101ULL;
    constexpr std::uint64_t even_bytes = 0x00FF00FF00FF00FFULL;
    const std::size_t n = bytes.size();
    std::size_t bound = 0;
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t lanes = 0;
        for (unsigned words = 0; words < 255 && i + 8 <= n; ++words, i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + i, sizeof word);
            lanes += word >> 7U & low_bits;
        }
        const std::uint64_t pairs = (lanes & even_bytes) + (lanes >> 8U & even_bytes);
        bound += static_cast<std::size_t>(pairs * 0x0001000100010001ULL >> 48U);
    }
    for (; i < n; ++i) {
        bound += bytes[i] >> 7U;
    }
    return bound;
}

}  // namespace

std::vector<ScanPoint> decode_payload(std::span<const std::uint8_t> bytes)
{
    const std::size_t bound = point_bound(bytes);
    if (bound == 0) {
        return {};
    }
    std::vector<ScanPoint> points(bound + decode_slack);
    points.resize(payload_kernels().points(bytes, points.data()));
    return points;
}

}  // namespace tarvok::raw
