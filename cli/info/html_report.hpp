#pragma once

#include <cstddef>
#include <string>

#include "sample_summary.hpp"

namespace info {

// Damaged scans the report lists before it only counts the rest.
inline constexpr std::size_t html_damage_rows = 500;

// A self-contained page: the summary, the plots as inline SVG and the
// damaged scans. It refers to nothing outside itself, and its content
// security policy forbids every fetch.
std::string html_report(const SampleSummary& summary, const SamplePlots& plots);

}  // namespace info
