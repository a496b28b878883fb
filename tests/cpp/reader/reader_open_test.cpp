#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures.hpp"
#include "tarvok/reader.hpp"

namespace {

using fixtures::Bytes;
using tarvok::Reader;

const Bytes one_scan_block = fixtures::block({0x05, 0x83, 0xFF, 0xFF, 0xFF, 0xFF});

std::string open_failure(const std::string& path)
{
    const auto reader = Reader::open(path);
    return reader ? std::string("opened") : reader.error().display();
}

class OpenFailures : public testing::Test {
protected:
    void write_container(const std::string& path, std::vector<sample_writer::Stream> streams)
    {
        const auto written = sample_writer::write_container(path, streams);
        ASSERT_TRUE(written.has_value()) << written.error();
    }

    fixtures::TempDir dir;
};

TEST_F(OpenFailures, MissingScanFileWinsOverMissingWiff)
{
    const std::string wiff = dir / "run1.wiff";
    EXPECT_EQ(open_failure(wiff), "parse error: .wiff.scan file not found: " + wiff + ".scan");
    fixtures::write_sample(wiff, {fixtures::entry(0)}, one_scan_block);
    ASSERT_EQ(::unlink((wiff + ".scan").c_str()), 0);
    EXPECT_EQ(open_failure(wiff), "parse error: .wiff.scan file not found: " + wiff + ".scan");
}

TEST_F(OpenFailures, RelativeAndDegeneratePathsShowTheDerivedPath)
{
    EXPECT_EQ(open_failure("no-such-run1.wiff"), "parse error: .wiff.scan file not found: no-such-run1.wiff.scan");
    EXPECT_EQ(open_failure(std::string("ab\0c.wiff", 9)),
              "parse error: .wiff.scan file not found: " + std::string("ab\0c.wiff.scan", 14));
    // A NUL must not cut the path down to a file that exists.
    const std::string wiff = dir / "cut.wiff";
    fixtures::write_sample(wiff, {fixtures::entry(0)}, one_scan_block);
    const std::string with_nul = wiff + std::string("\0x", 2);
    EXPECT_EQ(open_failure(with_nul), "parse error: .wiff.scan file not found: " + with_nul + ".scan");
}

TEST_F(OpenFailures, MissingWiffBesideScanFileIsOsError)
{
    const std::string wiff = dir / "run1.wiff";
    fixtures::write_file(wiff + ".scan", one_scan_block);
    EXPECT_EQ(open_failure(wiff), "I/O error: No such file or directory (os error 2)");
}

TEST_F(OpenFailures, UnreadableWiffIsOsError)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads files regardless of mode";
    }
    const std::string wiff = dir / "run1.wiff";
    fixtures::write_sample(wiff, {fixtures::entry(0)}, one_scan_block);
    ASSERT_EQ(::chmod(wiff.c_str(), 0), 0);
    EXPECT_EQ(open_failure(wiff), "I/O error: Permission denied (os error 13)");
}

TEST_F(OpenFailures, NotAContainerCarriesTheContainerReadersText)
{
    const std::string empty = dir / "empty.wiff";
    fixtures::write_file(empty, {});
    fixtures::write_file(empty + ".scan", one_scan_block);
    const std::string text = dir / "text.wiff";
    fixtures::write_file(text, Bytes(2000, 'x'));
    fixtures::write_file(text + ".scan", one_scan_block);
    for (const std::string& wiff : {empty, text}) {
        const std::string failure = open_failure(wiff);
        EXPECT_TRUE(failure.starts_with("I/O error: ")) << failure;
        EXPECT_GT(failure.size(), std::string("I/O error: ").size()) << failure;
    }
    EXPECT_EQ(open_failure(text), "I/O error: No OLE2 signature");
}

TEST_F(OpenFailures, DirectoryAsWiffIsAnIoError)
{
    const std::string wiff = dir / "d.wiff";
    ASSERT_EQ(::mkdir(wiff.c_str(), 0700), 0);
    fixtures::write_file(wiff + ".scan", one_scan_block);
    EXPECT_TRUE(open_failure(wiff).starts_with("I/O error: ")) << open_failure(wiff);
}

TEST_F(OpenFailures, FifoAsWiffDoesNotBlock)
{
    const std::string wiff = dir / "f.wiff";
    ASSERT_EQ(::mkfifo(wiff.c_str(), 0600), 0);
    fixtures::write_file(wiff + ".scan", one_scan_block);
    EXPECT_TRUE(open_failure(wiff).starts_with("I/O error: ")) << open_failure(wiff);
}

struct StreamRow {
    const char* name;
    std::vector<std::string> paths;
    const char* reason;
};

class MissingIndexStream : public OpenFailures, public testing::WithParamInterface<StreamRow> {};

TEST_P(MissingIndexStream, IsAParseErrorWithTheReason)
{
    const std::string wiff = dir / "s.wiff";
    std::vector<sample_writer::Stream> streams;
    for (const std::string& path : GetParam().paths) {
        streams.push_back({path, Bytes(100, 1)});
    }
    write_container(wiff, streams);
    fixtures::write_file(wiff + ".scan", one_scan_block);
    EXPECT_EQ(open_failure(wiff),
              std::string("parse error: Stream 'SampleSubtree/Sample1/Idx' not found: ") + GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, MissingIndexStream,
    testing::Values(StreamRow{"no_storage", {"Other"}, "no element 'SampleSubtree' in the root storage"},
                    StreamRow{"no_sample", {"SampleSubtree/Sample2/Idx"},
                              "no element 'Sample1' in storage 'SampleSubtree'"},
                    StreamRow{"no_idx", {"SampleSubtree/Sample1/Other"},
                              "no element 'Idx' in storage 'SampleSubtree/Sample1'"},
                    StreamRow{"idx_is_storage", {"SampleSubtree/Sample1/Idx/Inner"},
                              "'SampleSubtree/Sample1/Idx' is a storage, not a stream"},
                    StreamRow{"subtree_is_stream", {"SampleSubtree"}, "'SampleSubtree' is a stream, not a storage"},
                    // Full case folding would equate these; the simple upper-case mapping does not.
                    StreamRow{"sharp_s", {"SampleSubtree/Sample1/I\xC3\x9F"},
                              "no element 'Idx' in storage 'SampleSubtree/Sample1'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenFailures, IndexStreamProblemsComeLast)
{
    const std::string wiff = dir / "s.wiff";
    write_container(wiff, {{"SampleSubtree/Sample1/Idx", Bytes(31, 0)}});
    fixtures::write_file(wiff + ".scan", one_scan_block);
    EXPECT_EQ(open_failure(wiff), "parse error: Idx stream too short for header");
    write_container(wiff, {{"SampleSubtree/Sample1/Idx", Bytes(32 + 54, 0)}});
    EXPECT_EQ(open_failure(wiff), "parse error: Idx stream contained no valid scan records");
}

TEST(Open, NamesCompareWithoutRegardToCase)
{
    fixtures::TempDir dir;
    const std::string wiff = dir / "s.wiff";
    const Bytes idx = sample_writer::encode_index(std::vector{fixtures::entry(0)});
    ASSERT_TRUE(sample_writer::write_container(wiff, std::vector<sample_writer::Stream>{{"sAMPLEsUBTREE/sample1/IDX", idx}}));
    fixtures::write_file(wiff + ".scan", one_scan_block);
    const auto reader = Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    EXPECT_EQ(reader->records.size(), 1U);
}

TEST(Open, ValidSampleFillsEveryField)
{
    fixtures::TempDir dir;
    const std::string wiff = dir / "run1.wiff";
    fixtures::write_sample(wiff, {fixtures::entry(0, 1.5F, 1, 64), fixtures::entry(64, 2.0F, 2, 63)},
                           fixtures::concat({one_scan_block, one_scan_block}));
    const std::size_t descriptors = fixtures::open_descriptors();
    const auto reader = Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    EXPECT_EQ(fixtures::open_descriptors(), descriptors);
    EXPECT_EQ(reader->sample_name, "run1");
    EXPECT_EQ(reader->scan_path, wiff + ".scan");
    EXPECT_EQ(reader->scan_file_len, 2 * one_scan_block.size());
    ASSERT_EQ(reader->records.size(), 2U);
    EXPECT_EQ(reader->records[1].block_offset, 64U);
    EXPECT_EQ(reader->records[1].ms_level, 2U);

    // The reader holds nothing open: later changes to the files do not reach it.
    ASSERT_EQ(::unlink(wiff.c_str()), 0);
    fixtures::write_file(wiff + ".scan", Bytes(5000, 0));
    EXPECT_EQ(reader->scan_file_len, 2 * one_scan_block.size());
}

TEST(Open, DirectoryAsScanFilePassesTheChecks)
{
    fixtures::TempDir dir;
    const std::string wiff = dir / "d.wiff";
    const Bytes idx = sample_writer::encode_index(std::vector{fixtures::entry(0)});
    ASSERT_TRUE(sample_writer::write_container(wiff, std::vector<sample_writer::Stream>{{"SampleSubtree/Sample1/Idx", idx}}));
    ASSERT_EQ(::mkdir((wiff + ".scan").c_str(), 0700), 0);
    struct stat status {};
    ASSERT_EQ(::stat((wiff + ".scan").c_str(), &status), 0);
    const auto reader = Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    EXPECT_EQ(reader->scan_file_len, static_cast<std::uint64_t>(status.st_size));
    const auto spectra = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(spectra.size(), 1U);
    EXPECT_TRUE(spectra[0].mz.empty());
}

TEST(Open, FailuresLeaveNoDescriptorOpen)
{
    fixtures::TempDir dir;
    const std::string good = dir / "good.wiff";
    fixtures::write_sample(good, {fixtures::entry(0)}, one_scan_block);
    const std::string bad = dir / "bad.wiff";
    fixtures::write_file(bad, Bytes(3000, 'x'));
    fixtures::write_file(bad + ".scan", one_scan_block);
    const std::size_t before = fixtures::open_descriptors();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Reader::open(good).has_value());
        ASSERT_FALSE(Reader::open(bad).has_value());
        ASSERT_FALSE(Reader::open(dir / "missing.wiff").has_value());
        const auto reader = Reader::open(good);
        ASSERT_TRUE(reader.has_value());
        EXPECT_EQ(melvane_core::collect_spectra(reader->iter_spectra()).size(), 1U);
    }
    EXPECT_EQ(fixtures::open_descriptors(), before);
}

}  // namespace
