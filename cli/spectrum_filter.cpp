#include "spectrum_filter.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ranges>

namespace convert {
namespace {

std::string quoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    out += text;
    out += '\'';
    return out;
}

std::expected<std::uint32_t, std::string> parse_whole(std::string_view text)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::unexpected(quoted(text) + " is not a whole number from 0 to 4294967295");
    }
    return value;
}

// Plain decimals only: from_chars alone would take "inf", "nan" and exponents.
std::expected<double, std::string> parse_seconds(std::string_view text)
{
    const bool plain = std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) &&
                       std::ranges::any_of(text, [](char c) { return c >= '0' && c <= '9'; });
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (!plain || error != std::errc() || end != text.data() + text.size()) {
        return std::unexpected(quoted(text) + " is not a number of seconds such as 90 or 90.5");
    }
    return value;
}

// "A", "A-B", "A-" or "-B", each end parsed by `parse_end`.
template <typename T, typename Parse>
std::expected<Range<T>, std::string> parse_range(std::string_view text, Parse parse_end)
{
    const std::size_t dash = text.find('-');
    const std::string_view first = text.substr(0, dash);
    const std::string_view second = dash == std::string_view::npos ? first : text.substr(dash + 1);
    if (first.empty() && second.empty()) {
        return std::unexpected(quoted(text) + " has neither a start nor an end");
    }
    Range<T> range;
    for (auto [part, end] : {std::pair{first, &range.low}, std::pair{second, &range.high}}) {
        if (part.empty()) {
            continue;
        }
        auto value = parse_end(part);
        if (!value) {
            return std::unexpected(value.error());
        }
        *end = *value;
    }
    if (range.low && range.high && *range.high < *range.low) {
        return std::unexpected(quoted(text) + " ends below its start");
    }
    return range;
}

}  // namespace

bool SpectrumFilter::keeps(std::uint32_t ms_level, std::uint32_t scan_number, double retention_time_sec) const
{
    const bool level_kept =
        ms_levels.empty() || std::ranges::any_of(ms_levels, [&](const auto& range) { return range.holds(ms_level); });
    return level_kept && (!scans || scans->holds(scan_number)) &&
           (!seconds || (std::isfinite(retention_time_sec) && seconds->holds(retention_time_sec)));
}

std::expected<std::vector<Range<std::uint32_t>>, std::string> parse_ms_levels(std::string_view text)
{
    std::vector<Range<std::uint32_t>> levels;
    for (const auto item : std::views::split(text, ',')) {
        auto range = parse_range<std::uint32_t>(std::string_view(item.begin(), item.end()), parse_whole);
        if (!range) {
            return std::unexpected(range.error());
        }
        levels.push_back(*range);
    }
    return levels;
}

std::expected<Range<std::uint32_t>, std::string> parse_scan_range(std::string_view text)
{
    return parse_range<std::uint32_t>(text, parse_whole);
}

std::expected<Range<double>, std::string> parse_rt_range(std::string_view text)
{
    return parse_range<double>(text, parse_seconds);
}

}  // namespace convert
