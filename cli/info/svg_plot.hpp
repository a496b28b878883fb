#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "envelope.hpp"
#include "sample_summary.hpp"

namespace info {

struct LineSeries {
    std::string name;    // in the legend and the series' data-series attribute
    std::string colour;  // CSS colour
    const Envelope* values;
};

struct LinePlot {
    std::string id;  // the svg's data-plot attribute
    std::string title;
    std::string y_label;
    std::optional<Range> time;  // seconds; none when no scan has a finite time
    std::vector<LineSeries> series;
};

// An inline SVG of the series over retention time, y from 0. Each series is
// a polyline with data-values (scans drawn), data-points and data-y-max.
std::string line_plot(const LinePlot& plot);

// An inline SVG bar chart of the scans of each MS level; each bar a rect
// with data-level and data-scans.
std::string level_bars(const std::string& title, const std::map<std::uint32_t, std::uint64_t>& levels);

// The data area's width in pixels, one per plot column.
inline constexpr int plot_area_width = static_cast<int>(plot_columns);

}  // namespace info
