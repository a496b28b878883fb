#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "envelope.hpp"
#include "tarvok/error.hpp"
#include "tarvok/strict_spectra.hpp"

namespace info {

struct Range {
    double min = 0;
    double max = 0;
};

struct TicMax {
    std::uint32_t scan = 0;
    double tic = 0;  // the sum of the scan's intensities
};

struct BasePeak {
    std::uint32_t scan = 0;
    double mz = 0;
    double intensity = 0;
};

// What one pass over a sample's spectra finds.
struct SampleSummary {
    std::string path;  // as given
    std::string sample;
    std::string scan_path;
    std::uint64_t wiff_bytes = 0;
    std::uint64_t scan_bytes = 0;
    std::uint64_t scans = 0;
    std::map<std::uint32_t, std::uint64_t> ms_levels;
    std::uint64_t peaks = 0;
    std::uint64_t empty_scans = 0;
    std::optional<Range> retention_time_sec;  // over the finite times
    std::optional<Range> mz_range;
    std::optional<TicMax> tic_max;      // the first scan of the greatest TIC
    std::optional<BasePeak> base_peak;  // the first peak of the greatest intensity
    std::vector<tarvok::BlockDamage> damaged;
};

// MS1 spectra and those of level 2 and above are drawn apart.
enum LevelGroup : std::size_t { ms1 = 0, msn = 1 };

// The per-scan series over retention time, downsampled to the plots' width.
struct SamplePlots {
    std::optional<Range> time;  // the x axis, seconds
    std::uint64_t untimed = 0;  // scans without a finite retention time, not drawn
    std::vector<Envelope> tic;         // one per LevelGroup
    std::vector<Envelope> base_peak;   // intensity of each scan's most intense peak
    std::vector<Envelope> peak_count;
};

// Columns of the plots' data area: one per pixel.
inline constexpr std::size_t plot_columns = 800;

// Reads every spectrum of the sample once, damaged blocks salvaged and
// listed; fills `plots` when it is given. Fails only when the sample cannot
// be opened or its scan-data file read.
std::expected<SampleSummary, tarvok::Error> summarize(const std::string& path, std::optional<SamplePlots>* plots);

}  // namespace info
