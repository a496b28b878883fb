#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {

// decode_payload for a caller that has already bounded the point count, as
// the terminator search does on the way.
std::vector<ScanPoint> decode_within_bound(std::span<const std::uint8_t> bytes, std::size_t point_bound);

}  // namespace tarvok::raw
