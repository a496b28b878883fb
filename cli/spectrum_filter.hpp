#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace convert {

// Inclusive bounds; an absent end is open.
template <typename T>
struct Range {
    std::optional<T> low;
    std::optional<T> high;

    bool holds(T value) const { return (!low || value >= *low) && (!high || value <= *high); }
};

// Which spectra a conversion writes: those that every given filter keeps.
struct SpectrumFilter {
    std::vector<Range<std::uint32_t>> ms_levels;  // empty: every level
    std::optional<Range<std::uint32_t>> scans;
    std::optional<Range<double>> seconds;

    bool keeps(std::uint32_t ms_level, std::uint32_t scan_number, double retention_time_sec) const;
};

// The option's value, or the reason it is refused ("... is not a number").
std::expected<std::vector<Range<std::uint32_t>>, std::string> parse_ms_levels(std::string_view text);
std::expected<Range<std::uint32_t>, std::string> parse_scan_range(std::string_view text);
std::expected<Range<double>, std::string> parse_rt_range(std::string_view text);

}  // namespace convert
