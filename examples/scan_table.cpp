// Prints one line per scan of a sample: its number, MS level, retention
// time in seconds and number of peaks.
//
//   scan-table /data/run1.wiff
#include <cstdio>
#include <expected>
#include <memory>
#include <optional>

#include "melvane_core/spectrum_source.hpp"
#include "tarvok/reader.hpp"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: scan-table SAMPLE.wiff\n");
        return 2;
    }
    const std::expected<tarvok::Reader, tarvok::Error> reader = tarvok::Reader::open(argv[1]);
    if (!reader) {
        std::fprintf(stderr, "%s\n", reader.error().display().c_str());
        return 1;
    }
    std::printf("scan\tlevel\trt_sec\tpeaks\n");
    // One spectrum at a time, each decoded when it is asked for.
    const std::unique_ptr<melvane_core::SpectrumIterator> spectra = reader->iter_spectra();
    while (const std::optional<melvane_core::SpectrumRecord> spectrum = spectra->next()) {
        std::printf("%u\t%u\t%.6f\t%zu\n", spectrum->scan_number, spectrum->ms_level, spectrum->retention_time_sec,
                    spectrum->mz.size());
    }
    return 0;
}
