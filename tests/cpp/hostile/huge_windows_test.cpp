// Windows of gigabytes over small files, and indexes far larger than the
// scan data: memory follows the data that exists, not what the index claims.
#include <gtest/gtest.h>

#include "child_process.hpp"
#include "hostile_sample.hpp"
#include "tarvok/raw/scan.hpp"

namespace {

using tarvok::raw::ScanPoint;

constexpr std::size_t mib = std::size_t{1} << 20U;

struct WindowCase {
    const char* name;
    fixtures::Bytes file;
    std::uint64_t start;
    std::uint64_t end;
    std::vector<ScanPoint> points;
};

void PrintTo(const WindowCase& c, std::ostream* out)
{
    *out << c.name;
}

const WindowCase window_cases[] = {
    {"first_block_to_4_gib", hostile::two_blocks(), 0, 0xFFFFFFFFU, {{5, 3}, {7, 4}}},
    {"last_block_to_4_gib", hostile::two_blocks(), 64, 0xFFFFFFFFU, {{10, 200}}},
    {"near_4_gib_to_4_gib", hostile::two_blocks(), 0xFFFFFF00U, 0xFFFFFFFFU, {}},
    {"unterminated_block_to_4_gib", fixtures::block({0x05, 0x83}), 0, 0xFFFFFFFFU, {{5, 3}}},
};

class HugeWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(HugeWindow, ReadsOnlyWhatTheFileHolds)
{
    fixtures::TempDir dir;
    const std::string scan = dir / "s.wiff.scan";
    fixtures::write_file(scan, GetParam().file);
    const hostile::ChildReport report = hostile::run_in_child(
        [&]() -> std::string {
            const auto points = tarvok::raw::read_scan_block(scan, GetParam().start, GetParam().end);
            if (!points) {
                return points.error().display();
            }
            return *points == GetParam().points ? std::string() : "other points";
        },
        {.time = std::chrono::seconds(30), .heap_bytes = 4 * mib});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

INSTANTIATE_TEST_SUITE_P(Windows, HugeWindow, testing::ValuesIn(window_cases),
                         [](const testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

// Every other record's window runs from 0 to almost 4 GiB over a 127-byte
// file; the ones between start there and end at 0, which is empty.
TEST(HugeWindows, ManyRecordsOnOneLargeWindow)
{
    constexpr std::size_t records = 10000;
    fixtures::TempDir dir;
    const std::string wiff = dir / "many.wiff";
    std::vector<sample_writer::IndexEntry> entries;
    for (std::size_t i = 0; i < records; ++i) {
        entries.push_back(fixtures::entry(i % 2 == 0 ? 0 : 0xFFFFFF00U));
    }
    fixtures::write_sample(wiff, entries, hostile::two_blocks());

    const hostile::ChildReport report = hostile::run_in_child(
        [&]() -> std::string {
            const hostile::Drained drained = hostile::open_and_drain(wiff);
            if (!drained.failure.empty()) {
                return drained.failure;
            }
            return drained.spectra == records && drained.peaks == records ? std::string()
                                                                           : std::to_string(drained.peaks) + " peaks";
        },
        {.time = std::chrono::seconds(120), .heap_bytes = 32 * mib});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

// Two million records, each with a window of its own, over a scan-data file
// of four bytes: every read delivers nothing.
TEST(HugeWindows, MillionsOfRecordsOverAFewBytes)
{
    constexpr std::uint32_t records = 2000000;
    fixtures::TempDir dir;
    const std::string wiff = dir / "big.wiff";
    std::vector<sample_writer::IndexEntry> entries(records);
    for (std::uint32_t i = 0; i < records; ++i) {
        entries[i] = fixtures::entry(i, static_cast<float>(i));
    }
    fixtures::write_sample(wiff, entries, {0x83, 0x84, 0x85, 0x86});
    entries = {};

    // The index is 108 MB; the cap allows it, its records and their copy in
    // the iterator a few times over, and nothing the windows could claim.
    const hostile::ChildReport report = hostile::run_in_child(
        [&]() -> std::string {
            const hostile::Drained drained = hostile::open_and_drain(wiff);
            if (!drained.failure.empty()) {
                return drained.failure;
            }
            return drained.spectra == records && drained.peaks == 0 ? std::string()
                                                                     : std::to_string(drained.spectra) + " spectra";
        },
        {.time = std::chrono::seconds(300), .heap_bytes = 1024 * mib});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

}  // namespace
