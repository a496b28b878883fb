#include "envelope.hpp"

#include <algorithm>
#include <cmath>

namespace info {

Envelope::Envelope(double x_min, double x_max, std::size_t columns)
    : x_min_(x_min), x_max_(x_max), columns_(std::max<std::size_t>(columns, 1))
{
}

void Envelope::add(double x, double y)
{
    if (!(x >= x_min_ && x <= x_max_) || !std::isfinite(y)) {
        return;
    }
    const double span = x_max_ - x_min_;
    const double scaled = span > 0 ? (x - x_min_) / span * static_cast<double>(columns_.size()) : 0;
    const std::size_t index = std::min(static_cast<std::size_t>(scaled), columns_.size() - 1);
    Column& column = columns_[index];
    const PlotPoint point{x, y};
    if (!column.used) {
        column = Column{point, point, true};
    } else if (y < column.low.y) {
        column.low = point;
    } else if (y > column.high.y) {
        column.high = point;
    }
    ++values_;
    y_max_ = std::max(y_max_, y);
}

std::vector<PlotPoint> Envelope::points() const
{
    std::vector<PlotPoint> points;
    for (const Column& column : columns_) {
        if (!column.used) {
            continue;
        }
        const bool low_first = column.low.x <= column.high.x;
        points.push_back(low_first ? column.low : column.high);
        if (column.low.x != column.high.x || column.low.y != column.high.y) {
            points.push_back(low_first ? column.high : column.low);
        }
    }
    return points;
}

}  // namespace info
