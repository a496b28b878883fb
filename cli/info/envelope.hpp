#pragma once

#include <cstddef>
#include <vector>

namespace info {

struct PlotPoint {
    double x = 0;
    double y = 0;
};

// A series of (x, y) values drawn at a fixed width: the x range is cut into
// columns (one per pixel of the plot), and each column keeps only its least
// and its greatest y with their x. The line through those points looks like
// the line through every value at that width, and memory does not grow with
// the number of values.
class Envelope {
public:
    Envelope(double x_min, double x_max, std::size_t columns);

    // Values whose x lies outside the range are left out.
    void add(double x, double y);

    std::size_t values() const { return values_; }
    double y_max() const { return y_max_; }  // 0 while there is no value
    // Column by column, each column's points in x order: at most two per column.
    std::vector<PlotPoint> points() const;

private:
    struct Column {
        PlotPoint low;
        PlotPoint high;
        bool used = false;
    };

    double x_min_;
    double x_max_;
    std::vector<Column> columns_;
    std::size_t values_ = 0;
    double y_max_ = 0;
};

}  // namespace info
