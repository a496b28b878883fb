#include "payload_kernels.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Only bytes with the high bit set can be points: the list is sized once.
// A block of 64 bytes has at most 64 of them, so its count fits a byte and
// the compiler turns the inner loop into byte-wide vector additions.
std::size_t point_bound(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t block = 64;
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t bound = 0;
    std::size_t i = 0;
    for (; i + block <= n; i += block) {
        std::uint8_t high = 0;
        for (std::size_t j = 0; j < block; ++j) {
            high = static_cast<std::uint8_t>(high + (b[i + j] >> 7U));
        }
        bound += high;
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
