#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fixtures.hpp"
#include "tarvok/raw/scan.hpp"

namespace {

using fixtures::Bytes;
using tarvok::raw::read_scan_block;
using tarvok::raw::ScanPoint;
using Points = std::vector<ScanPoint>;

const Bytes terminator = {0xFF, 0xFF, 0xFF, 0xFF};

// Block A at 0 (payload 05 83 02 84), block B at 64 (payload 0A FC C8): 127 bytes.
Bytes two_block_file()
{
    return fixtures::concat({fixtures::block({0x05, 0x83, 0x02, 0x84}), terminator,
                             fixtures::block({0x0A, 0xFC, 0xC8}), terminator});
}

struct WindowRow {
    std::uint64_t start;
    std::uint64_t end;
    Points points;
};

class TwoBlockFile : public testing::TestWithParam<WindowRow> {
protected:
    fixtures::TempDir dir;
};

TEST_P(TwoBlockFile, ReadsTheWindow)
{
    const std::string path = dir / "s.wiff.scan";
    fixtures::write_file(path, two_block_file());
    const auto points = read_scan_block(path, GetParam().start, GetParam().end);
    ASSERT_TRUE(points.has_value()) << points.error().display();
    EXPECT_EQ(*points, GetParam().points);
}

INSTANTIATE_TEST_SUITE_P(Windows, TwoBlockFile,
                         testing::Values(WindowRow{0, 64, {{5, 3}, {7, 4}}}, WindowRow{64, 127, {{10, 200}}},
                                         WindowRow{100, 100, {}}, WindowRow{100, 50, {}},
                                         WindowRow{200, 300, {}},
                                         // Offsets near 2^32 with a small file must not allocate the window.
                                         WindowRow{0, 4294967295ULL, {{5, 3}, {7, 4}}},
                                         WindowRow{4294967000ULL, 4294967295ULL, {}}));

TEST(ScanBlock, EmptyWindowDoesNotTouchTheFile)
{
    fixtures::TempDir dir;
    const auto points = read_scan_block(dir / "missing.wiff.scan", 100, 100);
    ASSERT_TRUE(points.has_value());
    EXPECT_TRUE(points->empty());
}

TEST(ScanBlock, MissingFileIsAnOsError)
{
    fixtures::TempDir dir;
    const auto points = read_scan_block(dir / "missing.wiff.scan", 0, 64);
    ASSERT_FALSE(points.has_value());
    EXPECT_TRUE(points.error().is_io());
    EXPECT_EQ(points.error().display(), "I/O error: No such file or directory (os error 2)");
}

TEST(ScanBlock, DirectoryReadFailsAsIoError)
{
    fixtures::TempDir dir;
    const auto points = read_scan_block(dir / "", 0, 64);
    ASSERT_FALSE(points.has_value());
    EXPECT_EQ(points.error().display(), "I/O error: Is a directory (os error 21)");
}

TEST(ScanBlock, FifoWithoutWriterDoesNotBlock)
{
    fixtures::TempDir dir;
    const std::string path = dir / "fifo.wiff.scan";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const auto points = read_scan_block(path, 0, 64);
    ASSERT_FALSE(points.has_value());
    EXPECT_EQ(points.error().display(), "I/O error: Illegal seek (os error 29)");
}

struct DeliveredRow {
    const char* name;
    Bytes window;  // the bytes of the file behind the 56-byte header
    Points points;
};

class TerminatorSearch : public testing::TestWithParam<DeliveredRow> {};

TEST_P(TerminatorSearch, CutsRawBytesBeforeDecoding)
{
    fixtures::TempDir dir;
    const std::string path = dir / "s.wiff.scan";
    fixtures::write_file(path, fixtures::block(GetParam().window));
    const auto points = read_scan_block(path, 0, 1000);
    ASSERT_TRUE(points.has_value());
    EXPECT_EQ(*points, GetParam().points);
}

INSTANTIATE_TEST_SUITE_P(
    Delivered, TerminatorSearch,
    testing::Values(DeliveredRow{"run_inside_operand", {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}, {}},
                    DeliveredRow{"stops_at_run", {0x05, 0x83, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0x84}, {{5, 3}}},
                    DeliveredRow{"only_terminator", {0xFF, 0xFF, 0xFF, 0xFF}, {}},
                    DeliveredRow{"three_bytes_unsearched", {0x05, 0x83, 0xFF}, {{5, 3}}},
                    DeliveredRow{"three_ff_then_end", {0x83, 0xFF, 0xFF, 0xFF}, {{0, 3}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanBlock, WithoutTerminatorDecodesIntoTheNextHeader)
{
    fixtures::TempDir dir;
    const std::string path = dir / "s.wiff.scan";
    Bytes next_header(56, 0);
    next_header[0] = 0x81;
    fixtures::write_file(path, fixtures::concat({fixtures::block({0x05, 0x83}), next_header, {0x90, 0x90}}));
    const auto points = read_scan_block(path, 0, 58);
    ASSERT_TRUE(points.has_value());
    const Points expected = {{5, 3}, {5, 1}};
    EXPECT_EQ(*points, expected);
}

TEST(ScanBlock, LeavesNoDescriptorOpen)
{
    fixtures::TempDir dir;
    const std::string path = dir / "s.wiff.scan";
    fixtures::write_file(path, two_block_file());
    const std::size_t before = fixtures::open_descriptors();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(read_scan_block(path, 0, 64).has_value());
        ASSERT_TRUE(read_scan_block(path, 5000, 6000).has_value());
        ASSERT_FALSE(read_scan_block(dir / "nothing", 0, 64).has_value());
    }
    EXPECT_EQ(fixtures::open_descriptors(), before);
}

}  // namespace
