#include "compare.hpp"

#include <algorithm>

#include "report.hpp"

namespace fuzz {
namespace {

std::string point_text(const tarvok::raw::ScanPoint& point)
{
    return "(" + std::to_string(point.position) + ", " + std::to_string(point.intensity) + ")";
}

}  // namespace

void expect_same_points(const std::string& what, const std::vector<tarvok::raw::ScanPoint>& got,
                        const std::vector<tarvok::raw::ScanPoint>& want)
{
    const auto [got_at, want_at] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (got_at == got.end() && want_at == want.end()) {
        return;
    }
    const auto index = std::to_string(got_at - got.begin());
    const std::string got_point = got_at == got.end() ? "nothing" : point_text(*got_at);
    const std::string want_point = want_at == want.end() ? "nothing" : point_text(*want_at);
    fail(what + " differs from the rules at point " + index + ": " + got_point + " instead of " + want_point +
         " (" + std::to_string(got.size()) + " points instead of " + std::to_string(want.size()) + ")");
}

}  // namespace fuzz
