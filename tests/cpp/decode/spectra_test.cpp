#include <gtest/gtest.h>

#include "melvane_core/spectrum_source.hpp"
#include "reference_decoder.hpp"
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
        const std::size_t start = run.index[i].block_offset + 56;
        const std::size_t end = i + 1 < spectra.size() ? run.index[i + 1].block_offset + 56 : scan.size();
        const std::span<const std::uint8_t> window = scan.subspan(start, end - start);
        std::vector<double> mz;
        std::vector<float> intensity;
        for (const tarvok::raw::ScanPoint& point : reference_decode(window.first(reference_payload_length(window)))) {
            if (point.intensity != 0) {
                mz.push_back(point.position);
                intensity.push_back(static_cast<float>(point.intensity));
            }
        }
        SCOPED_TRACE(testing::Message() << "spectrum " << i);
        ASSERT_FALSE(mz.empty());
        EXPECT_EQ(spectra[i].mz, mz);
        EXPECT_EQ(spectra[i].intensity, intensity);
        EXPECT_EQ(spectra[i].mz.capacity(), mz.size());
        EXPECT_EQ(spectra[i].intensity.capacity(), intensity.size());
    }
}

}  // namespace
}  // namespace decode_test
