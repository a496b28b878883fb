#include "summary_rows.hpp"

#include <cstdio>

#include "text_forms.hpp"

namespace info {
namespace {

std::string printed(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string shortest(double value)
{
    std::string text;
    append_number(text, value);
    return text;
}

std::string levels_text(const SampleSummary& summary)
{
    if (summary.ms_levels.empty()) {
        return "none";
    }
    std::string text;
    for (const auto& [level, count] : summary.ms_levels) {
        text += text.empty() ? "" : ", ";
        text += "MS" + std::to_string(level) + " " + std::to_string(count);
    }
    return text;
}

}  // namespace

std::vector<SummaryRow> summary_rows(const SampleSummary& summary)
{
    const auto& time = summary.retention_time_sec;
    const auto& mz = summary.mz_range;
    const auto& tic = summary.tic_max;
    const auto& base = summary.base_peak;
    return {
        {"path", summary.path + " (" + std::to_string(summary.wiff_bytes) + " bytes)"},
        {"scan data", summary.scan_path + " (" + std::to_string(summary.scan_bytes) + " bytes)"},
        {"scans", std::to_string(summary.scans)},
        {"MS levels", levels_text(summary)},
        {"retention time", time ? printed("%.2f", time->min) + " to " + printed("%.2f", time->max) + " s" : "none"},
        {"peaks", std::to_string(summary.peaks) + " (" + std::to_string(summary.empty_scans) + " scans without peaks)"},
        {"m/z range", mz ? shortest(mz->min) + " to " + shortest(mz->max) : "none"},
        {"TIC max", tic ? printed("%.6g", tic->tic) + " (scan " + std::to_string(tic->scan) + ")" : "none"},
        {"base peak", base ? "m/z " + shortest(base->mz) + ", intensity " + printed("%.6g", base->intensity) +
                                 " (scan " + std::to_string(base->scan) + ")"
                           : "none"},
        {"damaged scans", summary.damaged.empty() ? "none" : std::to_string(summary.damaged.size())},
    };
}

}  // namespace info
