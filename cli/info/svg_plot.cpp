#include "svg_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "text_forms.hpp"

namespace info {
namespace {

constexpr int margin_left = 76;
constexpr int margin_right = 18;
constexpr int margin_top = 40;
constexpr int margin_bottom = 50;
constexpr int width = margin_left + plot_area_width + margin_right;
constexpr int line_height = 300;
constexpr int area_height_of(int height) { return height - margin_top - margin_bottom; }

// Markers make single scans visible; past this many points they would hide the line.
constexpr std::size_t marker_limit = 200;
constexpr std::size_t max_bars = 16;

std::string fixed(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// 1, 2 or 5 times a power of ten, giving about `count` steps over the span.
double nice_step(double span, int count)
{
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (raw <= factor * power) {
            return factor * power;
        }
    }
    return 10 * power;
}

// A tick label: k, M and G for thousands, millions and billions.
std::string compact(double value)
{
    const char* suffix = "";
    double shown = value;
    for (const auto& [scale, name] : {std::pair{1e9, "G"}, std::pair{1e6, "M"}, std::pair{1e3, "k"}}) {
        if (std::fabs(value) >= scale) {
            shown = value / scale;
            suffix = name;
            break;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4g%s", shown, suffix);
    return text;
}

struct Frame {
    int height;
    double x_min, x_max, y_max;

    double x(double value) const
    {
        return margin_left + (x_max > x_min ? (value - x_min) / (x_max - x_min) * plot_area_width : plot_area_width / 2.0);
    }
    double y(double value) const { return margin_top + area_height_of(height) * (1.0 - value / y_max); }
};

void open_svg(std::string& out, const std::string& id, const std::string& title, int height)
{
    out += "<svg class=\"plot\" data-plot=\"" + id + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
           std::to_string(height) + "\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
           "\" role=\"img\" aria-label=\"";
    append_html_text(out, title);
    out += "\">\n<text class=\"title\" x=\"" + std::to_string(margin_left) + "\" y=\"22\">";
    append_html_text(out, title);
    out += "</text>\n";
}

// The y grid with its labels, from 0 to a tick at or above value_max, which
// becomes the frame's top.
void y_axis(std::string& out, Frame& frame, double value_max, const std::string& label)
{
    const double step = nice_step(value_max > 0 ? value_max : 1, 5);
    frame.y_max = std::max(step, std::ceil(value_max / step) * step);
    for (double tick = 0; tick <= frame.y_max * (1 + 1e-9); tick += step) {
        const std::string y = fixed(frame.y(tick));
        out += "<line class=\"grid\" x1=\"" + std::to_string(margin_left) + "\" x2=\"" +
               std::to_string(margin_left + plot_area_width) + "\" y1=\"" + y + "\" y2=\"" + y + "\"/>";
        out += "<text class=\"tick\" text-anchor=\"end\" x=\"" + std::to_string(margin_left - 6) + "\" y=\"" + y +
               "\" dy=\"4\">" + compact(tick) + "</text>\n";
    }
    const std::string middle = fixed(margin_top + area_height_of(frame.height) / 2.0);
    out += "<text class=\"axis-label\" text-anchor=\"middle\" transform=\"translate(16 " + middle +
           ") rotate(-90)\">";
    append_html_text(out, label);
    out += "</text>\n";
}

void frame_lines(std::string& out, const Frame& frame)
{
    const std::string bottom = std::to_string(margin_top + area_height_of(frame.height));
    out += "<line class=\"axis\" x1=\"" + std::to_string(margin_left) + "\" x2=\"" +
           std::to_string(margin_left + plot_area_width) + "\" y1=\"" + bottom + "\" y2=\"" + bottom + "\"/>";
    out += "<line class=\"axis\" x1=\"" + std::to_string(margin_left) + "\" x2=\"" + std::to_string(margin_left) +
           "\" y1=\"" + std::to_string(margin_top) + "\" y2=\"" + bottom + "\"/>\n";
}

void time_axis(std::string& out, const Frame& frame, double unit, const char* unit_name)
{
    const double span = (frame.x_max - frame.x_min) / unit;
    const double step = nice_step(span > 0 ? span : 1, 8);
    const int bottom = margin_top + area_height_of(frame.height);
    for (double tick = std::ceil(frame.x_min / unit / step) * step; tick * unit <= frame.x_max * (1 + 1e-12) + 1e-12;
         tick += step) {
        const std::string x = fixed(frame.x(tick * unit));
        char label[32];
        std::snprintf(label, sizeof label, "%g", std::fabs(tick) < step * 1e-9 ? 0.0 : tick);
        out += "<line class=\"axis\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + std::to_string(bottom) + "\" y2=\"" +
               std::to_string(bottom + 5) + "\"/>";
        out += "<text class=\"tick\" text-anchor=\"middle\" x=\"" + x + "\" y=\"" + std::to_string(bottom + 19) +
               "\">" + label + "</text>\n";
    }
    out += "<text class=\"axis-label\" text-anchor=\"middle\" x=\"" + fixed(margin_left + plot_area_width / 2.0) +
           "\" y=\"" + std::to_string(frame.height - 8) + "\">retention time (" + unit_name + ")</text>\n";
}

void legend(std::string& out, const std::vector<const LineSeries*>& drawn)
{
    int x = margin_left + plot_area_width - 90 * static_cast<int>(drawn.size());
    for (const LineSeries* series : drawn) {
        out += "<line x1=\"" + std::to_string(x) + "\" x2=\"" + std::to_string(x + 18) +
               "\" y1=\"18\" y2=\"18\" stroke=\"" + series->colour + "\" stroke-width=\"3\"/>";
        out += "<text class=\"legend\" x=\"" + std::to_string(x + 24) + "\" y=\"22\">";
        append_html_text(out, series->name);
        out += "</text>\n";
        x += 90;
    }
}

void polyline(std::string& out, const Frame& frame, const LineSeries& series)
{
    const std::vector<PlotPoint> points = series.values->points();
    out += "<polyline class=\"series\" data-series=\"";
    append_html_text(out, series.name);
    out += "\" data-values=\"" + std::to_string(series.values->values()) + "\" data-points=\"" +
           std::to_string(points.size()) + "\" data-y-max=\"";
    append_number(out, series.values->y_max());
    out += "\" stroke=\"" + series.colour + "\" points=\"";
    for (const PlotPoint& point : points) {
        out += fixed(frame.x(point.x)) + "," + fixed(frame.y(point.y)) + " ";
    }
    if (!points.empty()) {
        out.pop_back();
    }
    out += "\"/>\n";
    if (points.size() <= marker_limit) {
        for (const PlotPoint& point : points) {
            out += "<circle class=\"marker\" r=\"2.5\" fill=\"" + series.colour + "\" cx=\"" + fixed(frame.x(point.x)) +
                   "\" cy=\"" + fixed(frame.y(point.y)) + "\"/>";
        }
        out += "\n";
    }
}

}  // namespace

std::string line_plot(const LinePlot& plot)
{
    std::string out;
    open_svg(out, plot.id, plot.title, line_height);
    std::vector<const LineSeries*> drawn;
    double value_max = 0;
    for (const LineSeries& series : plot.series) {
        if (series.values->values() > 0) {
            drawn.push_back(&series);
            value_max = std::max(value_max, series.values->y_max());
        }
    }
    // A single time (or none) still gets an axis of two seconds around it.
    const Range time = plot.time.value_or(Range{});
    const double pad = time.max > time.min ? 0.0 : 1.0;
    // Minutes read better than thousands of seconds.
    const bool minutes = time.max - time.min > 600;
    const double unit = minutes ? 60.0 : 1.0;
    // The axis runs from tick to tick around the times.
    const double step = nice_step((time.max - time.min + 2 * pad) / unit, 8) * unit;
    Frame frame{line_height, std::floor((time.min - pad) / step) * step, std::ceil((time.max + pad) / step) * step, 1};
    y_axis(out, frame, value_max, plot.y_label);
    frame_lines(out, frame);
    if (!plot.time || drawn.empty()) {
        out += "<text class=\"empty\" text-anchor=\"middle\" x=\"" + fixed(margin_left + plot_area_width / 2.0) +
               "\" y=\"" + fixed(margin_top + area_height_of(line_height) / 2.0) +
               "\">no scan has a finite retention time</text>\n";
    }
    time_axis(out, frame, unit, minutes ? "min" : "s");
    legend(out, drawn);
    // The first series is drawn last, over the others: MS1 scans are far
    // fewer than MS2 ones and would vanish under them.
    for (auto series = drawn.rbegin(); series != drawn.rend(); ++series) {
        polyline(out, frame, **series);
    }
    out += "</svg>\n";
    return out;
}

std::string level_bars(const std::string& title, const std::map<std::uint32_t, std::uint64_t>& levels)
{
    constexpr int height = 260;
    std::string out;
    open_svg(out, "levels", title, height);
    // Past a readable number of bars the rarest levels share the last one.
    struct Bar {
        std::string level;
        std::string name;
        std::uint64_t scans;
    };
    std::vector<Bar> bars;
    for (const auto& [level, scans] : levels) {
        if (bars.size() < max_bars) {
            bars.push_back(Bar{std::to_string(level), "MS" + std::to_string(level), scans});
        } else {
            bars.back().level = bars.back().name = "other";
            bars.back().scans += scans;
        }
    }
    std::uint64_t most = 0;
    for (const Bar& bar : bars) {
        most = std::max(most, bar.scans);
    }
    Frame frame{height, 0, 1, 1};
    y_axis(out, frame, static_cast<double>(most), "scans");
    frame_lines(out, frame);
    const int slot = plot_area_width / std::max<int>(static_cast<int>(bars.size()), 4);
    const int bar_width = std::min(slot * 2 / 3, 120);
    int x = margin_left + (slot - bar_width) / 2;
    const int bottom = margin_top + area_height_of(height);
    for (const Bar& bar : bars) {
        const double top = frame.y(static_cast<double>(bar.scans));
        out += "<rect class=\"bar\" data-level=\"" + bar.level + "\" data-scans=\"" + std::to_string(bar.scans) +
               "\" x=\"" + std::to_string(x) + "\" width=\"" + std::to_string(bar_width) + "\" y=\"" + fixed(top) +
               "\" height=\"" + fixed(bottom - top) + "\"/>";
        out += "<text class=\"bar-value\" text-anchor=\"middle\" x=\"" + std::to_string(x + bar_width / 2) +
               "\" y=\"" + fixed(top - 5) + "\">" + std::to_string(bar.scans) + "</text>";
        out += "<text class=\"tick\" text-anchor=\"middle\" x=\"" + std::to_string(x + bar_width / 2) + "\" y=\"" +
               std::to_string(bottom + 19) + "\">" + bar.name + "</text>\n";
        x += slot;
    }
    out += "<text class=\"axis-label\" text-anchor=\"middle\" x=\"" + fixed(margin_left + plot_area_width / 2.0) +
           "\" y=\"" + std::to_string(height - 8) + "\">MS level</text>\n";
    out += "</svg>\n";
    return out;
}

}  // namespace info
