#include "svg_plot.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace info {
namespace {

using Bars = std::vector<std::pair<std::string, std::uint64_t>>;

Bars bars_of(const std::string& svg)
{
    static const std::regex bar(R"re(<rect class="bar" data-level="([^"]*)" data-scans="(\d+)")re");
    Bars bars;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), bar); it != std::sregex_iterator(); ++it) {
        bars.emplace_back((*it)[1].str(), std::stoull((*it)[2].str()));
    }
    return bars;
}

// Sixteen bars at most: past that the last one sums every level from the
// sixteenth on.
TEST(LevelBars, TheRarestLevelsShareTheLastBar)
{
    for (const std::uint32_t levels : {1u, 15u, 16u, 17u, 18u, 40u}) {
        std::map<std::uint32_t, std::uint64_t> scans;
        Bars expected;
        std::uint64_t other = 0;
        for (std::uint32_t level = 1; level <= levels; ++level) {
            scans[level * 3] = level;
            if (levels <= 16 || level < 16) {
                expected.emplace_back(std::to_string(level * 3), level);
            } else {
                other += level;
            }
        }
        if (levels > 16) {
            expected.emplace_back("other", other);
        }
        const std::string svg = level_bars("levels", scans);
        EXPECT_EQ(bars_of(svg), expected) << levels << " levels";
        EXPECT_EQ(svg.find(">other</text>") != std::string::npos, levels > 16) << levels << " levels";
    }
}

}  // namespace
}  // namespace info
