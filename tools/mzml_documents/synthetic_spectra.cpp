#include "synthetic_spectra.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "prng.hpp"

namespace mzml_documents {
namespace {

using melvane_core::SpectrumRecord;

SpectrumRecord record(std::uint32_t scan_number, std::uint32_t ms_level, double time, std::vector<double> mz,
                      std::vector<float> intensity)
{
    SpectrumRecord r;
    r.index = scan_number - 1;
    r.scan_number = scan_number;
    r.ms_level = ms_level;
    r.retention_time_sec = time;
    r.mz = std::move(mz);
    r.intensity = std::move(intensity);
    return r;
}

}  // namespace

SpectrumRecord random_spectrum(std::uint64_t seed, std::uint32_t scan_number, std::size_t peaks)
{
    sample_writer::Prng prng(seed);
    SpectrumRecord r = record(scan_number, scan_number % 4 == 1 ? 1 : 2, scan_number * 0.731, {}, {});
    r.mz.reserve(peaks);
    r.intensity.reserve(peaks);
    double mz = 100.0 + prng.between(0, 1000) * 1e-3;
    for (std::size_t i = 0; i < peaks; ++i) {
        mz += prng.between(1, 4000) * 1.0000003e-4;
        r.mz.push_back(mz);
        r.intensity.push_back(static_cast<float>(prng.between(0, 1U << 24)) * 0.37f);
    }
    return r;
}

std::vector<SpectrumRecord> numpress_edge_spectra()
{
    constexpr double top = 4294967295.0;
    std::vector<SpectrumRecord> spectra;
    // As the reader gives them: positions rising by whole steps, whole counts.
    SpectrumRecord whole = record(1, 1, 1.0, {}, {});
    sample_writer::Prng prng(5);
    double position = 1000.0 + prng.between(0, 100'000);
    for (int i = 0; i < 20'000; ++i) {
        position += prng.between(1, 600);
        whole.mz.push_back(position);
        whole.intensity.push_back(static_cast<float>(prng.between(1, 1U << 20)));
    }
    spectra.push_back(std::move(whole));
    spectra.push_back(record(2, 2, 2.0, {top}, {2147483520.0f}));
    spectra.push_back(record(3, 2, 3.0, {0.0, top}, {2147483648.0f, 1.0f}));
    spectra.push_back(record(4, 1, 4.0, {1.0, 2.0, 3.0}, {4294967296.0f, 4294967040.0f, 7.0f}));
    spectra.push_back(record(5, 2, 5.0, {}, {}));
    spectra.push_back(record(6, 2, 6.0, {0.0, 1.0, top}, {1.0f, 2.0f, 3.0f}));
    spectra.push_back(record(7, 2, 7.0, {7.5, 8.25, 9.125}, {0.5f, 1.0f, 2.0f}));
    spectra.push_back(record(8, 2, 8.0, {0.1, 0.2}, {-1.0f, 3.0f}));
    spectra.push_back(record(9, 2, 9.0, {-1.0, 2.0}, {-0.0f, 1.0f}));
    spectra.push_back(record(10, 2, 10.0, {-0.0}, {std::nanf("")}));
    spectra.push_back(record(11, 2, 11.0, {std::nan(""), 1.0}, {std::numeric_limits<float>::infinity(), 1.0f}));
    spectra.push_back(record(12, 1, 12.0, {42.0}, {1.0f}));
    // Whole, but the first two go in 32 bits: the library would truncate them.
    spectra.push_back(record(13, 2, 13.0, {4294967296.0, 4294967297.0}, {1.0f, 2.0f}));
    return spectra;
}

std::vector<SpectrumRecord> edge_case_spectra()
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr float finf = std::numeric_limits<float>::infinity();
    std::vector<SpectrumRecord> spectra;
    spectra.push_back(record(1, 1, 0.0, {100.0, 100.5, 101.25}, {1.0f, 3.5f, 2.0f}));
    spectra.push_back(record(2, 2, nan, {}, {}));
    spectra.push_back(record(3, 1, inf, {std::numeric_limits<double>::denorm_min(), 0.1, 1e300},
                             {std::numeric_limits<float>::denorm_min(), 0.1f, std::numeric_limits<float>::max()}));
    spectra.push_back(record(4, 2, -inf, {-0.0, 5e-324, std::numeric_limits<double>::max()}, {-0.0f, 0.0f, 1e-38f}));
    spectra.push_back(record(5, 2, -0.0, {1.0, nan, 3.0}, {std::nanf(""), 2.0f, finf}));
    spectra.push_back(record(7, 1, 5e-324, {250.0}, {0.0f}));
    spectra.push_back(random_spectrum(11, 9, 150'000));
    spectra.push_back(record(10, 2, 1.7976931348623157e308, {}, {}));
    return spectra;
}

}  // namespace mzml_documents
