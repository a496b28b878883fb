#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "oracle/oracle.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/layout.hpp"

namespace sample_writer {
namespace {

using tarvok::raw::layout::block_header_size;
constexpr std::array<std::uint8_t, tarvok::raw::layout::end_marker_size> terminator{0xFF, 0xFF, 0xFF, 0xFF};

std::span<const std::uint8_t> payload_of(const sample_writer::Run& run, const IndexEntry& entry) {
    return std::span(run.scan_bytes).subspan(entry.block_offset + block_header_size,
                                           entry.block_size - block_header_size - terminator.size());
}

// One run shared by the shape tests: 2,000 scans is a tenth of the default.
const sample_writer::Run& sample_run() {
    static const sample_writer::Run run = make_run({.scans = 2000, .seed = 7, .minutes = 6.0});
    return run;
}

TEST(MakeRun, SameSeedGivesTheSameBytes) {
    const sample_writer::Run a = make_run({.scans = 300, .seed = 42});
    const sample_writer::Run b = make_run({.scans = 300, .seed = 42});
    EXPECT_EQ(a.scan_bytes, b.scan_bytes);
    EXPECT_EQ(encode_index(a.index), encode_index(b.index));
}

TEST(MakeRun, DifferentSeedGivesDifferentBytes) {
    const sample_writer::Run a = make_run({.scans = 300, .seed = 42});
    const sample_writer::Run b = make_run({.scans = 300, .seed = 43});
    EXPECT_NE(a.scan_bytes, b.scan_bytes);
    EXPECT_NE(encode_index(a.index), encode_index(b.index));
}

TEST(MakeRun, BlocksAreContiguousAndTerminated) {
    const sample_writer::Run& run = sample_run();
    ASSERT_EQ(run.index.size(), 2000U);
    std::size_t expected_offset = 0;
    for (const IndexEntry& entry : run.index) {
        ASSERT_EQ(entry.block_offset, expected_offset);
        ASSERT_GT(entry.block_size, block_header_size + terminator.size());
        expected_offset += entry.block_size;
        const auto tail = std::span(run.scan_bytes).subspan(expected_offset - 4, 4);
        ASSERT_TRUE(std::ranges::equal(tail, terminator)) << "block at " << entry.block_offset;
    }
    EXPECT_EQ(expected_offset, run.scan_bytes.size());
}

TEST(MakeRun, NoPayloadHoldsTheEndMarker) {
    const sample_writer::Run& run = sample_run();
    for (const IndexEntry& entry : run.index) {
        const auto payload = payload_of(run, entry);
        ASSERT_TRUE(std::ranges::search(payload, terminator).empty()) << "block at " << entry.block_offset;
    }
}

TEST(MakeRun, CyclesOneSurveyScanThenTenFragmentScans) {
    const sample_writer::Run& run = sample_run();
    for (std::size_t k = 0; k < run.index.size(); ++k) {
        const auto points = oracle::decode(payload_of(run, run.index[k]));
        ASSERT_TRUE(points.complete) << "scan " << k;
        const std::size_t peaks = points.points.size();
        if (k % 11 == 0) {
            ASSERT_EQ(run.index[k].ms_level_code, 1) << "scan " << k;
            ASSERT_TRUE(peaks >= 2000 && peaks <= 6000) << "scan " << k << " has " << peaks;
        } else {
            ASSERT_EQ(run.index[k].ms_level_code, 2) << "scan " << k;
            ASSERT_TRUE(peaks >= 100 && peaks <= 1500) << "scan " << k << " has " << peaks;
        }
        ASSERT_TRUE(std::ranges::adjacent_find(points.points, [](const oracle::ScanPoint& a, const oracle::ScanPoint& b) {
                        return b.position <= a.position;
                    }) == points.points.end())
            << "scan " << k;
    }
}

TEST(MakeRun, RetentionTimesRiseAcrossTheRun) {
    const sample_writer::Run& run = sample_run();
    for (std::size_t k = 1; k < run.index.size(); ++k) {
        ASSERT_LT(run.index[k - 1].retention_time_min, run.index[k].retention_time_min) << "scan " << k;
    }
    EXPECT_GE(run.index.front().retention_time_min, 0.0F);
    EXPECT_FLOAT_EQ(run.index.back().retention_time_min, 6.0F);
}

TEST(MakeRun, SizeScalesToSixtyToHundredMegabytesAtTwentyThousandScans) {
    const std::size_t bytes = sample_run().scan_bytes.size();
    EXPECT_GE(bytes, 6'000'000U);
    EXPECT_LE(bytes, 10'000'000U);
}

// Counts, over the whole run, how often each opcode form appears.
TEST(MakeRun, UsesMostlyShortOpcodesWithATailOfEveryWideForm) {
    const sample_writer::Run& run = sample_run();
    std::array<std::size_t, 5> intensity_forms{};  // inline, FC, FD, FE, FF
    std::size_t short_steps = 0;
    std::size_t wide_steps = 0;
    for (const IndexEntry& entry : run.index) {
        const auto points = oracle::decode(payload_of(run, entry)).points;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::uint32_t v = points[i].intensity;
            const std::size_t form = v <= 123 ? 0 : v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFF ? 3 : 4;
            ++intensity_forms[form];
            if (i > 0) {
                ++(points[i].position - points[i - 1].position <= 127 ? short_steps : wide_steps);
            }
        }
    }
    const std::size_t total = short_steps + wide_steps + run.index.size();
    EXPECT_GT(intensity_forms[0], total / 2);
    for (std::size_t form = 1; form < intensity_forms.size(); ++form) {
        EXPECT_GT(intensity_forms[form], 0U) << "form " << form;
    }
    // The tail thins out: three-byte operands are rarer than two-byte ones,
    // four-byte rarer still.
    EXPECT_LT(intensity_forms[3], intensity_forms[2]);
    EXPECT_LT(intensity_forms[4], intensity_forms[3]);
    EXPECT_GT(short_steps, 5 * wide_steps);
    EXPECT_GT(wide_steps, 0U);
}

}  // namespace
}  // namespace sample_writer
