#include <gtest/gtest.h>

#include <random>

#include "block_peaks.hpp"
#include "oracle/oracle.hpp"
#include "payload_cases.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/scan.hpp"
#include "fixtures.hpp"

namespace decode_test {
namespace {

using Lists = oracle::Peaks;

class BlockPeaks : public testing::Test {
protected:
    // Blocks of random headers and payloads, most with a terminator.
    void SetUp() override
    {
        std::mt19937_64 random(11);
        Bytes scan;
        const std::vector<PayloadShape>& shapes = payload_shapes();
        for (std::size_t block = 0; block < 60; ++block) {
            offsets_.push_back(scan.size());
            for (int i = 0; i < 56; ++i) {
                scan.push_back(static_cast<std::uint8_t>(random()));
            }
            const Bytes payload = shapes[block % shapes.size()].make(random, random() % 3000);
            scan.insert(scan.end(), payload.begin(), payload.end());
            if (block % 7 != 3) {
                scan.insert(scan.end(), 4, 0xFF);
            }
        }
        file_len_ = scan.size();
        ASSERT_TRUE(sample_writer::write_file(path_, scan).has_value());
    }

    void expect_same_as_scan_block(std::uint64_t start, std::uint64_t end)
    {
        SCOPED_TRACE(testing::Message() << "window " << start << " to " << end);
        const auto points = tarvok::raw::read_scan_block(path_, start, end);
        ASSERT_TRUE(points.has_value());
        Lists lists;
        ASSERT_TRUE(tarvok::raw::read_block_peaks(path_, start, end, scratch_, lists.mz, lists.intensity));
        EXPECT_EQ(lists, oracle::peaks(*points));
        EXPECT_EQ(lists.mz.capacity(), lists.mz.size());
        EXPECT_EQ(lists.intensity.capacity(), lists.intensity.size());
    }

    fixtures::TempDir dir_;
    std::string path_ = dir_ / "blocks.wiff.scan";
    std::vector<std::uint64_t> offsets_;
    std::uint64_t file_len_ = 0;
    tarvok::raw::BlockScratch scratch_;
};

TEST_F(BlockPeaks, MatchesScanBlockOnEveryBlock)
{
    for (std::size_t i = 0; i < offsets_.size(); ++i) {
        expect_same_as_scan_block(offsets_[i], i + 1 < offsets_.size() ? offsets_[i + 1] : file_len_);
    }
}

TEST_F(BlockPeaks, MatchesScanBlockOnArbitraryWindows)
{
    std::mt19937_64 random(5);
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t start = random() % (file_len_ + 100);
        expect_same_as_scan_block(start, start + random() % 9000);
    }
    expect_same_as_scan_block(file_len_ + 10, file_len_ + 500);
    expect_same_as_scan_block(offsets_[5], offsets_[2]);
}

TEST_F(BlockPeaks, MissingFileIsAnIoErrorOnlyForNonEmptyWindows)
{
    const std::string missing = dir_ / "missing.wiff.scan";
    Lists lists;
    const auto failed = tarvok::raw::read_block_peaks(missing, 0, 64, scratch_, lists.mz, lists.intensity);
    ASSERT_FALSE(failed.has_value());
    EXPECT_TRUE(failed.error().is_io());
    EXPECT_EQ(lists, Lists{});
    EXPECT_TRUE(tarvok::raw::read_block_peaks(missing, 100, 100, scratch_, lists.mz, lists.intensity));
    EXPECT_EQ(lists, Lists{});
}

}  // namespace
}  // namespace decode_test
