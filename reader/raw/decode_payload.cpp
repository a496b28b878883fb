#include <cstddef>
#include <memory>
#include <new>

#include "payload_kernels.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

constexpr std::size_t buffered_payload_limit = 64 * 1024;
// Room for this many bytes' points takes 32 KiB of stack.
constexpr std::size_t stack_payload_limit = 4 * 1024 - decode_slack;

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

std::vector<ScanPoint> points_in_room(std::span<const std::uint8_t> bytes, std::byte* room)
{
    auto* const points = std::launder(reinterpret_cast<ScanPoint*>(room));
    return std::vector<ScanPoint>(points, points + payload_kernels().points(bytes, points));
}

}  // namespace

std::vector<ScanPoint> decode_payload(std::span<const std::uint8_t> bytes)
{
    // A payload of modest length decodes into room for a point per byte, which
    // needs neither a counting pass nor zeroed storage; the list then takes
    // only the points decoded. The room of most payloads fits on the stack,
    // which spares an allocation per call.
    if (bytes.size() <= stack_payload_limit) {
        alignas(ScanPoint) std::byte storage[(stack_payload_limit + decode_slack) * sizeof(ScanPoint)];
        return points_in_room(bytes, storage);
    }
    if (bytes.size() <= buffered_payload_limit) {
        const auto storage = std::make_unique_for_overwrite<std::byte[]>((bytes.size() + decode_slack) *
                                                                         sizeof(ScanPoint));
        return points_in_room(bytes, storage.get());
    }
    std::vector<ScanPoint> points(point_bound(bytes) + decode_slack);
    points.resize(payload_kernels().points(bytes, points.data()));
    return points;
}

}  // namespace tarvok::raw
