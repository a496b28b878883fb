#include "envelope.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace info {
namespace {

std::vector<std::pair<double, double>> pairs(const Envelope& envelope)
{
    std::vector<std::pair<double, double>> out;
    for (const PlotPoint& point : envelope.points()) {
        out.emplace_back(point.x, point.y);
    }
    return out;
}

TEST(Envelope, KeepsEachColumnsLeastAndGreatestInTimeOrder)
{
    Envelope envelope(0, 10, 2);  // columns [0, 5) and [5, 10]
    for (const auto& [x, y] : std::vector<std::pair<double, double>>{
             {0, 5}, {1, 9}, {2, 1}, {3, 4}, {6, 2}, {7, 2}, {10, 8}}) {
        envelope.add(x, y);
    }
    // the second column: its low came first, its high last
    EXPECT_EQ(pairs(envelope), (std::vector<std::pair<double, double>>{{1, 9}, {2, 1}, {6, 2}, {10, 8}}));
    EXPECT_EQ(envelope.values(), 7U);
    EXPECT_EQ(envelope.y_max(), 9);
}

TEST(Envelope, OneValueIsOnePoint)
{
    Envelope envelope(3, 3, 800);
    envelope.add(3, 7);
    EXPECT_EQ(pairs(envelope), (std::vector<std::pair<double, double>>{{3, 7}}));
}

TEST(Envelope, LeavesOutWhatItCannotPlace)
{
    Envelope envelope(0, 1, 4);
    envelope.add(-0.5, 1);
    envelope.add(1.5, 1);
    envelope.add(0.5, std::numeric_limits<double>::quiet_NaN());
    envelope.add(std::numeric_limits<double>::quiet_NaN(), 1);
    EXPECT_EQ(envelope.values(), 0U);
    EXPECT_TRUE(envelope.points().empty());
    EXPECT_EQ(envelope.y_max(), 0);
}

TEST(Envelope, PointsStayWithinTwoPerColumn)
{
    Envelope envelope(0, 1, 100);
    for (std::int64_t i = 0; i <= 1'000'000; ++i) {
        envelope.add(static_cast<double>(i) / 1e6, static_cast<double>(i * 7919 % 1000));
    }
    EXPECT_EQ(envelope.values(), 1'000'001U);
    EXPECT_LE(envelope.points().size(), 200U);
    EXPECT_EQ(envelope.y_max(), 999);
}

}  // namespace
}  // namespace info
