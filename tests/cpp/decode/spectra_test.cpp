#include <gtest/gtest.h>

#include "melvane_core/spectrum_source.hpp"
#include "oracle/oracle.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/reader.hpp"
#include "fixtures.hpp"

namespace decode_test {
namespace {

// A generated run read through the iterator against the oracle applied to the
// writer's own bytes; each list is allocated at its size.
TEST(Spectra, RunDecodesToTheReferencePeaksAtExactCapacity)
{
    const sample_writer::RunOptions options{.scans = 60, .seed = 3};
    const sample_writer::Run run = sample_writer::make_run(options);
    fixtures::TempDir dir;
    const std::string path = dir / "run.wiff";
    ASSERT_TRUE(sample_writer::write_run(path, options).has_value());

    const auto reader = tarvok::Reader::open(path);
    ASSERT_TRUE(reader.has_value()) << reader.error().display();
    const std::vector<melvane_core::SpectrumRecord> spectra = melvane_core::collect_spectra(reader->iter_spectra());
    ASSERT_EQ(spectra.size(), run.index.size());

    const std::span<const std::uint8_t> scan(run.scan_bytes);
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        const std::uint64_t end = i + 1 < spectra.size() ? run.index[i + 1].block_offset : scan.size();
        const oracle::Peaks peaks = oracle::peaks(oracle::read_block(scan, run.index[i].block_offset, end));
        SCOPED_TRACE(testing::Message() << "spectrum " << i);
        ASSERT_FALSE(peaks.mz.empty());
        EXPECT_EQ(spectra[i].mz, peaks.mz);
        EXPECT_EQ(spectra[i].intensity, peaks.intensity);
        EXPECT_EQ(spectra[i].mz.capacity(), peaks.mz.size());
        EXPECT_EQ(spectra[i].intensity.capacity(), peaks.intensity.size());
    }
}

}  // namespace
}  // namespace decode_test
