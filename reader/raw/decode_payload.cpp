#include "payload_kernels.hpp"
#include "point_list.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {

std::vector<ScanPoint> decode_within_bound(std::span<const std::uint8_t> bytes, std::size_t point_bound)
{
    if (point_bound == 0) {
        return {};
    }
    std::vector<ScanPoint> points(point_bound + decode_slack);
    points.resize(payload_kernels().decode_points(bytes, points.data()));
    return points;
}

std::vector<ScanPoint> decode_payload(std::span<const std::uint8_t> bytes)
{
    return decode_within_bound(bytes, payload_kernels().point_bound(bytes));
}

}  // namespace tarvok::raw
