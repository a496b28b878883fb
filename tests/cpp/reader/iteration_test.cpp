#include <gtest/gtest.h>
#include <unistd.h>

#include "fixtures.hpp"
#include "tarvok/reader.hpp"

namespace {

using fixtures::Bytes;
using melvane_core::SpectrumRecord;

const Bytes terminator = {0xFF, 0xFF, 0xFF, 0xFF};

// Blocks at 0, 100 and 300 in a 1000-byte file; each payload names its window
// so that a wrong (start, end) pair shows in the points.
Bytes three_block_file()
{
    Bytes file(1000, 0);
    const auto place = [&](std::size_t at, const Bytes& payload) {
        std::copy(payload.begin(), payload.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 56));
        std::copy(terminator.begin(), terminator.end(),
                  file.begin() + static_cast<std::ptrdiff_t>(at + 56 + payload.size()));
    };
    place(0, {0x0A, 0x85, 0x02, 0x80, 0x03, 0x87});   // (10,5) (12,0) (15,7)
    place(100, {0x7F, 0x7F, 0x7F, 0xFE, 0x01, 0x00, 0x01});  // (381, 65537)
    place(300, {0x01, 0xFF, 0x01, 0x00, 0x00, 0x01});  // (1, 16777217)
    return file;
}

class Iteration : public testing::Test {
protected:
    void SetUp() override
    {
        fixtures::write_sample(wiff, {fixtures::entry(0, 1.5F, 1), fixtures::entry(100, 2.25F, 2),
                                      fixtures::entry(300, 3.0F, 7)},
                               three_block_file());
    }

    void collect(std::vector<SpectrumRecord>& spectra) const
    {
        const auto reader = tarvok::Reader::open(wiff);
        ASSERT_TRUE(reader.has_value()) << reader.error().display();
        spectra = melvane_core::collect_spectra(reader->iter_spectra());
    }

    fixtures::TempDir dir;
    std::string wiff = dir / "S.wiff";
};

TEST_F(Iteration, EveryFieldOfEveryRecord)
{
    std::vector<SpectrumRecord> spectra;
    ASSERT_NO_FATAL_FAILURE(collect(spectra));
    ASSERT_EQ(spectra.size(), 3U);

    const double rts[] = {90.0, 135.0, 180.0};
    const std::uint32_t levels[] = {1, 2, 2};
    for (std::size_t i = 0; i < 3; ++i) {
        const SpectrumRecord& s = spectra[i];
        EXPECT_EQ(s.index, i);
        EXPECT_EQ(s.scan_number, i + 1);
        EXPECT_EQ(s.native_id, "file=S scan=" + std::to_string(i + 1));
        EXPECT_EQ(s.ms_level, levels[i]);
        EXPECT_EQ(s.retention_time_sec, rts[i]);
        EXPECT_EQ(s.msn_info.has_value(), levels[i] >= 2);
        if (s.msn_info) {
            EXPECT_EQ(s.msn_info->ms1_ref, "file=S ms1ref=unknown");
            EXPECT_FALSE(s.msn_info->msn_value_1 || s.msn_info->msn_value_5 || s.msn_info->msn_small_value);
            EXPECT_EQ(s.msn_info->msn_byte_1, 0);
            EXPECT_EQ(s.msn_info->msn_byte_2, 255);
            EXPECT_EQ(s.msn_info->msn_byte_3, 255);
        }
        EXPECT_FALSE(s.aux_value_1 || s.aux_value_7 || s.aux_text || s.aux_list);
        EXPECT_EQ(s.code_1, 2);
        EXPECT_EQ(s.code_2, 1);
        EXPECT_EQ(s.code_3, 3);
    }
    // Zero intensities are left out; values convert exactly or to nearest float.
    EXPECT_EQ(spectra[0].mz, (std::vector<double>{10.0, 15.0}));
    EXPECT_EQ(spectra[0].intensity, (std::vector<float>{5.0F, 7.0F}));
    EXPECT_EQ(spectra[1].mz, (std::vector<double>{381.0}));
    EXPECT_EQ(spectra[1].intensity, (std::vector<float>{65537.0F}));
    EXPECT_EQ(spectra[2].intensity, (std::vector<float>{16777216.0F}));
}

TEST_F(Iteration, SizeHintIsExactAndIteratorOutlivesReader)
{
    std::unique_ptr<melvane_core::SpectrumIterator> iterator;
    {
        const auto reader = tarvok::Reader::open(wiff);
        ASSERT_TRUE(reader.has_value());
        iterator = reader->iter_spectra();
    }
    for (std::size_t left = 3; left > 0; --left) {
        EXPECT_EQ(iterator->size_hint(), (melvane_core::SizeHint{left, left}));
        ASSERT_TRUE(iterator->next().has_value());
    }
    EXPECT_EQ(iterator->size_hint(), (melvane_core::SizeHint{0, 0}));
    EXPECT_FALSE(iterator->next().has_value());
    EXPECT_FALSE(iterator->next().has_value());
}

TEST_F(Iteration, VanishedScanFileGivesEmptySpectra)
{
    const auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value());
    ASSERT_EQ(::unlink((wiff + ".scan").c_str()), 0);
    const std::vector<SpectrumRecord> spectra = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(spectra.size(), 3U);
    for (const SpectrumRecord& s : spectra) {
        EXPECT_TRUE(s.mz.empty());
        EXPECT_TRUE(s.intensity.empty());
        EXPECT_FALSE(s.native_id.empty());
    }
}

TEST(IterationOrder, OutOfOrderOffsetsGiveEmptyBlocksWithoutStopping)
{
    fixtures::TempDir dir;
    const std::string wiff = dir / "o.wiff";
    const Bytes file = fixtures::concat({fixtures::block({0x05, 0x83}), terminator, fixtures::block({0x06, 0x84}),
                                         terminator});
    // 62, then 0 (window before its start: empty), then 62 to the end of the file.
    fixtures::write_sample(wiff, {fixtures::entry(62), fixtures::entry(0), fixtures::entry(62)}, file);
    const auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value());
    const auto spectra = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(spectra.size(), 3U);
    EXPECT_TRUE(spectra[0].mz.empty());
    EXPECT_EQ(spectra[1].mz, (std::vector<double>{5.0}));
    EXPECT_EQ(spectra[2].mz, (std::vector<double>{6.0}));
}

TEST(IterationOrder, SampleNameReachesNativeIds)
{
    // No openable container lacks a stem, so the fallback name is set directly.
    fixtures::TempDir dir;
    const std::string wiff = dir / "x.wiff";
    fixtures::write_sample(wiff, {fixtures::entry(0, 0.0F, 2)}, fixtures::block({0x83}));
    auto reader = tarvok::Reader::open(wiff);
    ASSERT_TRUE(reader.has_value());
    reader->sample_name = "unknown";
    const auto spectra = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(spectra.size(), 1U);
    EXPECT_EQ(spectra[0].native_id, "file=unknown scan=1");
    EXPECT_EQ(spectra[0].msn_info->ms1_ref, "file=unknown ms1ref=unknown");
    EXPECT_EQ(spectra[0].mz, (std::vector<double>{0.0}));
}

}  // namespace
