#include <bit>
#include <cstring>

#include "payload_kernels.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Only bytes with the high bit set can be points: the list is sized once.
std::size_t point_bound(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
    std::size_t bound = 0;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        bound += static_cast<std::size_t>(std::popcount(word & high_bits));
    }
    for (; i < bytes.size(); ++i) {
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
