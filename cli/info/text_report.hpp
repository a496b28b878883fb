#pragma once

#include <cstddef>
#include <string>

#include "sample_summary.hpp"

namespace info {

// Damaged scans the text lists before it only counts the rest.
inline constexpr std::size_t text_damage_lines = 20;

// The sample as a block of lines for a terminal, names made harmless.
std::string text_block(const SampleSummary& summary);

}  // namespace info
