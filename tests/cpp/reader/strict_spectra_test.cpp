#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures.hpp"
#include "tarvok/reader.hpp"
#include "tarvok/strict_spectra.hpp"

namespace {

using fixtures::Bytes;
using melvane_core::SpectrumRecord;
using sample_writer::IndexEntry;

// iter_spectra is the oracle: every field the strict path fills must match.
void expect_same(const SpectrumRecord& got, const SpectrumRecord& want)
{
    EXPECT_EQ(got.index, want.index);
    EXPECT_EQ(got.scan_number, want.scan_number);
    EXPECT_EQ(got.native_id, want.native_id);
    EXPECT_EQ(got.ms_level, want.ms_level);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got.retention_time_sec),
              std::bit_cast<std::uint64_t>(want.retention_time_sec));
    EXPECT_EQ(got.mz, want.mz) << "scan " << want.scan_number;
    EXPECT_EQ(got.intensity, want.intensity) << "scan " << want.scan_number;
    ASSERT_EQ(got.msn_info.has_value(), want.msn_info.has_value());
    if (want.msn_info) {
        EXPECT_EQ(got.msn_info->ms1_ref, want.msn_info->ms1_ref);
        EXPECT_EQ(got.msn_info->msn_value_1, want.msn_info->msn_value_1);
        EXPECT_EQ(got.msn_info->msn_small_value, want.msn_info->msn_small_value);
        EXPECT_EQ(got.msn_info->msn_byte_1, want.msn_info->msn_byte_1);
        EXPECT_EQ(got.msn_info->msn_byte_2, want.msn_info->msn_byte_2);
        EXPECT_EQ(got.msn_info->msn_byte_3, want.msn_info->msn_byte_3);
    }
    EXPECT_EQ(got.aux_value_1, want.aux_value_1);
    EXPECT_EQ(got.aux_value_7, want.aux_value_7);
    EXPECT_EQ(got.aux_text, want.aux_text);
    EXPECT_EQ(got.aux_list, want.aux_list);
    EXPECT_EQ(got.code_1, want.code_1);
    EXPECT_EQ(got.code_2, want.code_2);
    EXPECT_EQ(got.code_3, want.code_3);
}

// A record left over from another sample, so that reuse must overwrite all of it.
SpectrumRecord stale_record()
{
    SpectrumRecord stale;
    stale.native_id = "file=stale scan=99";
    stale.mz = {1.0, 2.0, 3.0};
    stale.intensity = {1.0F, 2.0F, 3.0F};
    stale.msn_info.emplace().ms1_ref = "stale";
    stale.msn_info->msn_value_1 = 4.0;
    stale.aux_value_1 = 1.0;
    stale.aux_value_7 = 7.0;
    stale.aux_text = "stale";
    stale.aux_list = std::vector<std::int32_t>{1};
    return stale;
}

constexpr const char* reversed = "block window ends before it starts (index records out of order or repeated)";
constexpr const char* past_end = "block starts at or past the end of the scan-data file";
constexpr const char* unterminated = "block has no terminator FF FF FF FF";

struct Damaged {
    std::uint32_t scan_number;
    const char* reason;
};

struct SampleCase {
    const char* name;
    std::vector<IndexEntry> entries;
    Bytes scan;
    std::vector<Damaged> damaged;  // in scan order
};

Bytes payload_block(const Bytes& payload)
{
    return fixtures::concat({fixtures::block(payload), {0xFF, 0xFF, 0xFF, 0xFF}});
}

std::vector<SampleCase> sample_cases()
{
    using fixtures::entry;
    const Bytes a = payload_block({0x0A, 0x85, 0x02, 0x80, 0x03, 0x87});  // 62 + 4 bytes
    const Bytes b = payload_block({0x7F, 0xFE, 0x01, 0x00, 0x01});
    const Bytes both = fixtures::concat({a, b});
    const auto at_b = static_cast<std::uint32_t>(a.size());
    const auto end = static_cast<std::uint32_t>(both.size());
    const Bytes b_cut = fixtures::concat({a, Bytes(b.begin(), b.end() - 2)});
    return {
        {"contiguous", {entry(0, 1.5F, 1), entry(at_b, 2.0F, 2)}, both, {}},
        // The second record points back: its predecessor's window is empty.
        {"out_of_order", {entry(at_b, 1.0F, 1), entry(0, 2.0F, 2), entry(at_b, 3.0F, 1)}, both, {{1, reversed}}},
        {"equal_offsets", {entry(0, 1.0F, 1), entry(0, 1.0F, 1), entry(at_b, 1.0F, 2)}, both, {{1, reversed}}},
        {"window_past_end", {entry(0, 1.0F, 1), entry(4000, 2.0F, 2)}, both, {{2, past_end}}},
        {"all_past_end", {entry(9000, 1.0F, 1), entry(9500, 2.0F, 3)}, both, {{1, past_end}, {2, past_end}}},
        // Out of order and past the end: the order is what the index got wrong.
        {"reversed_past_end", {entry(9000, 1.0F, 1), entry(0, 2.0F, 1)}, both, {{1, reversed}}},
        // The last block at the file's end: its window is empty, but nothing is out of order.
        {"last_at_the_end", {entry(0, 1.0F, 1), entry(end, 2.0F, 1)}, both, {{2, past_end}}},
        // The file ends inside the last header: not a byte of the payload is there.
        {"last_inside_its_header", {entry(0, 1.0F, 1), entry(end - 56, 2.0F, 1)}, both, {{2, past_end}}},
        {"last_one_payload_byte", {entry(0, 1.0F, 1), entry(end - 57, 2.0F, 1)}, both, {{2, unterminated}}},
        {"zero_intensities_only", {entry(0, 0.5F, 1)}, payload_block({0x05, 0x80, 0x80}), {}},
        {"empty_payload", {entry(0, 0.5F, 1)}, payload_block({}), {}},
        {"no_terminator",
         {entry(0, 0.5F, 1), entry(60, 0.5F, 1)},
         fixtures::block({0x05, 0x83, 0x81, 0x01}, 0x81),
         {{1, unterminated}, {2, past_end}}},
        // A payload without terminator whose window runs into a next header of
        // FF bytes: the bytes delivered hold one, so the block passes.
        {"terminator_in_the_next_header",
         {entry(0, 0.5F, 1), entry(60, 0.5F, 1)},
         fixtures::concat({fixtures::block({0x05, 0x83, 0x81, 0x01}), fixtures::block({0x01, 0x81}, 0xFF),
                           Bytes{0xFF, 0xFF, 0xFF, 0xFF}}),
         {}},
        {"last_block_cut_in_its_terminator", {entry(0, 1.0F, 1), entry(at_b, 2.0F, 2)}, b_cut, {{2, unterminated}}},
    };
}

class StrictSalvage : public testing::TestWithParam<SampleCase> {};

// Under salvage every record is given as iter_spectra gives it, the damage reported beside it.
TEST_P(StrictSalvage, SameRecordsAsIterationAndTheDamage)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "S 1&.wiff";
    fixtures::write_sample(wiff, GetParam().entries, GetParam().scan);
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    const std::vector<SpectrumRecord> want = melvane_core::collect_spectra(reader->iter_spectra());

    tarvok::StrictSpectra strict(*std::move(reader), tarvok::DamagePolicy::salvage);
    EXPECT_EQ(strict.size(), want.size());
    SpectrumRecord got = stale_record();
    std::vector<std::pair<std::uint32_t, std::string>> damaged;
    for (const SpectrumRecord& expected : want) {
        const auto filled = strict.next(got);
        ASSERT_TRUE(filled.has_value()) << filled.error().display();
        ASSERT_TRUE(*filled);
        expect_same(got, expected);
        if (const auto& damage = strict.damage()) {
            damaged.emplace_back(damage->scan_number, damage->reason);
        }
    }
    std::vector<std::pair<std::uint32_t, std::string>> want_damaged;
    for (const Damaged& d : GetParam().damaged) {
        want_damaged.emplace_back(d.scan_number, d.reason);
    }
    EXPECT_EQ(damaged, want_damaged);
    EXPECT_EQ(strict.position(), want.size());
    for (int again = 0; again < 2; ++again) {
        const auto filled = strict.next(got);
        ASSERT_TRUE(filled.has_value());
        EXPECT_FALSE(*filled);
        EXPECT_FALSE(strict.damage().has_value());
    }
}

class StrictRefusal : public testing::TestWithParam<SampleCase> {};

// Under refuse a damaged record is its error, and the sound ones around it come out as iteration gives them.
TEST_P(StrictRefusal, DamagedBlocksAreErrorsAndTheRestMatchIteration)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "S.wiff";
    fixtures::write_sample(wiff, GetParam().entries, GetParam().scan);
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    const std::vector<SpectrumRecord> want = melvane_core::collect_spectra(reader->iter_spectra());

    tarvok::StrictSpectra strict(*std::move(reader));
    SpectrumRecord got = stale_record();
    auto next_damaged = GetParam().damaged.begin();
    for (const SpectrumRecord& expected : want) {
        const auto filled = strict.next(got);
        EXPECT_EQ(strict.position(), expected.index + 1);
        if (next_damaged != GetParam().damaged.end() && next_damaged->scan_number == expected.scan_number) {
            ASSERT_FALSE(filled.has_value()) << "scan " << expected.scan_number;
            EXPECT_TRUE(filled.error().is_parse());
            EXPECT_EQ(filled.error().display(), "parse error: scan " + std::to_string(expected.scan_number) + ": " +
                                                    next_damaged->reason);
            ASSERT_TRUE(strict.damage().has_value());
            EXPECT_EQ(strict.damage()->scan_number, expected.scan_number);
            EXPECT_EQ(strict.damage()->reason, next_damaged->reason);
            ++next_damaged;
            continue;
        }
        ASSERT_TRUE(filled.has_value()) << filled.error().display();
        ASSERT_TRUE(*filled);
        EXPECT_FALSE(strict.damage().has_value()) << strict.damage()->reason;
        expect_same(got, expected);
    }
    EXPECT_EQ(next_damaged, GetParam().damaged.end());
    EXPECT_EQ(strict.next(got), false);
}

// What filters see ahead of the blocks agrees with the spectra, and a skipped
// record changes no other record's window.
TEST_P(StrictSalvage, IndexFactsAndSkippingEveryOtherRecord)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "skips.wiff";
    fixtures::write_sample(wiff, GetParam().entries, GetParam().scan);
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    const std::vector<SpectrumRecord> want = melvane_core::collect_spectra(reader->iter_spectra());

    tarvok::StrictSpectra strict(*std::move(reader), tarvok::DamagePolicy::salvage);
    SpectrumRecord got = stale_record();
    for (std::size_t i = 0; i < want.size(); ++i) {
        const tarvok::IndexFacts facts = strict.index_facts(i);
        EXPECT_EQ(facts.scan_number, want[i].scan_number);
        EXPECT_EQ(facts.ms_level, want[i].ms_level);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(facts.retention_time_sec),
                  std::bit_cast<std::uint64_t>(want[i].retention_time_sec));
        if (i % 2 == 0) {
            EXPECT_TRUE(strict.skip());
            EXPECT_FALSE(strict.damage().has_value());
        } else {
            ASSERT_EQ(strict.next(got), true);
            expect_same(got, want[i]);
        }
        EXPECT_EQ(strict.position(), i + 1);
    }
    EXPECT_FALSE(strict.skip());
    EXPECT_EQ(strict.position(), want.size());
}

INSTANTIATE_TEST_SUITE_P(Samples, StrictSalvage, testing::ValuesIn(sample_cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Samples, StrictRefusal, testing::ValuesIn(sample_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StrictSpectra, GeneratedRunsMatchIteration)
{
    const fixtures::TempDir dir;
    for (const std::uint64_t seed : {1U, 2U, 3U}) {
        const std::string wiff = dir / ("run" + std::to_string(seed) + ".wiff");
        const auto written = sample_writer::write_run(wiff, {.scans = 300, .seed = seed, .minutes = 5.0});
        ASSERT_TRUE(written.has_value()) << written.error();
        auto reader = tarvok::Reader::open(wiff);
        ASSERT_TRUE(reader.has_value());
        const std::vector<SpectrumRecord> want = melvane_core::collect_spectra(reader->iter_spectra());
        tarvok::StrictSpectra strict(*std::move(reader));
        SpectrumRecord got;
        std::size_t peaks = 0;
        for (const SpectrumRecord& expected : want) {
            ASSERT_EQ(strict.next(got), true);
            expect_same(got, expected);
            peaks += got.mz.size();
        }
        EXPECT_GT(peaks, 0U);
        EXPECT_EQ(strict.next(got), false);
    }
}

TEST(StrictSpectra, OpensTheScanFileOnceAndKeepsItOnlyWhileAlive)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "S.wiff";
    const auto written = sample_writer::write_run(wiff, {.scans = 50, .seed = 4, .minutes = 1.0});
    ASSERT_TRUE(written.has_value());
    const std::size_t before = fixtures::open_descriptors();
    {
        auto reader = tarvok::Reader::open(wiff);
        ASSERT_TRUE(reader.has_value());
        tarvok::StrictSpectra strict(*std::move(reader));
        SpectrumRecord got;
        ASSERT_EQ(strict.next(got), true);
        // Removing the file now does not matter: the descriptor stays valid.
        ASSERT_EQ(::unlink((wiff + ".scan").c_str()), 0);
        std::size_t given = 1;
        while (strict.next(got) == true) {
            ++given;
            EXPECT_EQ(fixtures::open_descriptors(), before + 1);
        }
        EXPECT_EQ(given, 50U);
    }
    EXPECT_EQ(fixtures::open_descriptors(), before);
}

// How the scan-data file goes bad between opening the sample and reading it.
struct FailureCase {
    const char* name;
    void (*spoil)(const std::string& scan_path);
    const char* error;
};

const FailureCase failure_cases[] = {
    {"is_a_directory",
     [](const std::string& scan) {
         std::filesystem::remove(scan);
         std::filesystem::create_directory(scan);
     },
     "I/O error: Is a directory (os error 21)"},
    {"removed", [](const std::string& scan) { std::filesystem::remove(scan); },
     "I/O error: No such file or directory (os error 2)"},
};

class StrictFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(StrictFailures, EveryBlockThatNeedsTheFileFailsAndEmptyWindowsDoNot)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "S.wiff";
    const Bytes a = payload_block({0x0A, 0x85});
    // Records 0 and 2 have empty windows; 1 and 3 must read.
    fixtures::write_sample(wiff,
                           {fixtures::entry(10, 1.0F, 1), fixtures::entry(0, 2.0F, 1), fixtures::entry(20, 3.0F, 2),
                            fixtures::entry(20, 4.0F, 1)},
                           a);
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value());
    GetParam().spoil(reader->scan_path);
    // Salvaged, the empty windows are given, without the file.
    tarvok::StrictSpectra strict(*std::move(reader), tarvok::DamagePolicy::salvage);

    SpectrumRecord got;
    const bool fails[] = {false, true, false, true};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto filled = strict.next(got);
        if (fails[i]) {
            ASSERT_FALSE(filled.has_value()) << "record " << i;
            EXPECT_EQ(filled.error().display(), GetParam().error);
            EXPECT_FALSE(strict.damage().has_value());
        } else {
            ASSERT_TRUE(filled.has_value()) << "record " << i << ": " << filled.error().display();
            EXPECT_EQ(got.index, i);
            EXPECT_TRUE(got.mz.empty());
            EXPECT_TRUE(strict.damage().has_value());
        }
        EXPECT_EQ(strict.position(), i + 1);
    }
    EXPECT_EQ(strict.next(got), false);
}

INSTANTIATE_TEST_SUITE_P(ScanFile, StrictFailures, testing::ValuesIn(failure_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Two blocks just below 4 GiB in a sparse scan-data file whose length is the parameter.
class FileBeyondOffsets : public testing::TestWithParam<std::uint64_t> {};

TEST_P(FileBeyondOffsets, OnlyALongerFileDamagesTheLastScan)
{
    const fixtures::TempDir dir;
    const std::string wiff = dir / "S.wiff";
    constexpr std::uint64_t first = (std::uint64_t{1} << 32U) - 300;
    const Bytes blocks = fixtures::concat({payload_block({0x0A, 0x85}), payload_block({0x7F, 0x86})});
    fixtures::write_sample(wiff,
                           {fixtures::entry(static_cast<std::uint32_t>(first), 1.0F, 1),
                            fixtures::entry(static_cast<std::uint32_t>(first + 62), 2.0F, 1)},
                           {});
    {
        const std::string scan = wiff + ".scan";
        const int fd = ::open(scan.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const bool written = ::pwrite(fd, blocks.data(), blocks.size(), static_cast<off_t>(first)) ==
                             static_cast<ssize_t>(blocks.size());
        const bool sized = ::ftruncate(fd, static_cast<off_t>(GetParam())) == 0;
        ::close(fd);
        ASSERT_TRUE(written && sized) << "a sparse file of " << GetParam() << " bytes";
    }
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    ASSERT_EQ(reader->scan_file_len, GetParam());
    const bool damaged = GetParam() > (std::uint64_t{1} << 32U);
    const std::vector<SpectrumRecord> want = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(want.size(), 2U);
    ASSERT_EQ(want[1].mz, std::vector<double>{127.0});

    for (const auto policy : {tarvok::DamagePolicy::refuse, tarvok::DamagePolicy::salvage}) {
        tarvok::StrictSpectra strict(tarvok::Reader(*reader), policy);
        SpectrumRecord got;
        ASSERT_EQ(strict.next(got), true);
        expect_same(got, want[0]);
        EXPECT_FALSE(strict.damage().has_value());
        const auto last = strict.next(got);
        ASSERT_EQ(strict.damage().has_value(), damaged);
        if (damaged) {
            EXPECT_EQ(strict.damage()->scan_number, 2U);
            EXPECT_EQ(strict.damage()->reason, "scan-data file is longer than 32-bit block offsets can reach");
        }
        if (damaged && policy == tarvok::DamagePolicy::refuse) {
            ASSERT_FALSE(last.has_value());
            EXPECT_EQ(last.error().display(),
                      "parse error: scan 2: scan-data file is longer than 32-bit block offsets can reach");
        } else {
            ASSERT_EQ(last, true);
            expect_same(got, want[1]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, FileBeyondOffsets,
                         testing::Values(std::uint64_t{1} << 32U, (std::uint64_t{1} << 32U) + 1),
                         [](const auto& info) { return std::to_string(info.param); });

}  // namespace
