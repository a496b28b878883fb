#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tarvok/raw/scan.hpp"

namespace bench {

// The baseline: one opcode at a time through a switch, the point list grown
// by appending.
std::vector<tarvok::raw::ScanPoint> simple_decode(std::span<const std::uint8_t> bytes);

}  // namespace bench
