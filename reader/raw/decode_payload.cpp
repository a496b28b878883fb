#include <bit>
#include <cstring>

#include "payload_kernels.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Only bytes with the high bit set can be points: the list is sized once.
// The high bits of eight words are gathered into one, so that a single
// population count covers 64 bytes.
std::size_t point_bound(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t bound = 0;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        std::uint64_t gathered = 0;
        for (unsigned w = 0; w < 8; ++w) {
            std::uint64_t word = 0;
            std::memcpy(&word, b + i + 8 * w, sizeof word);
            gathered |= (word & high_bits) >> w;
        }
        bound += static_cast<std::size_t>(std::popcount(gathered));
    }
    for (; i < n; ++i) {
        bound += b[i] >> 7U;
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
