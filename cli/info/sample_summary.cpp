#include "sample_summary.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/reader.hpp"

namespace info {
namespace {

void widen(std::optional<Range>& range, double value)
{
    if (!std::isfinite(value)) {
        return;
    }
    if (!range) {
        range = Range{value, value};
    } else {
        range->min = std::min(range->min, value);
        range->max = std::max(range->max, value);
    }
}

// Every record is given as a spectrum or the summary fails, so the index's
// times are the spectra's.
std::optional<Range> time_range(const tarvok::StrictSpectra& spectra)
{
    std::optional<Range> range;
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        widen(range, spectra.index_facts(i).retention_time_sec);
    }
    return range;
}

SamplePlots plots_for(const std::optional<Range>& time)
{
    SamplePlots plots;
    plots.time = time;
    const Range axis = time.value_or(Range{});
    for (auto* series : {&plots.tic, &plots.base_peak, &plots.peak_count}) {
        series->assign(2, Envelope(axis.min, axis.max, plot_columns));
    }
    return plots;
}

void draw(SamplePlots& plots, const melvane_core::SpectrumRecord& spectrum, double tic, double base_peak)
{
    const double time = spectrum.retention_time_sec;
    if (!std::isfinite(time)) {
        ++plots.untimed;
        return;
    }
    const std::size_t group = spectrum.ms_level >= 2 ? msn : ms1;
    plots.tic[group].add(time, tic);
    plots.base_peak[group].add(time, base_peak);
    plots.peak_count[group].add(time, static_cast<double>(spectrum.mz.size()));
}

}  // namespace

std::expected<SampleSummary, tarvok::Error> summarize(const std::string& path, std::optional<SamplePlots>* plots)
{
    std::expected<tarvok::Reader, tarvok::Error> reader = tarvok::Reader::open(path);
    if (!reader) {
        return std::unexpected(reader.error());
    }
    SampleSummary summary;
    summary.path = path;
    summary.sample = reader->sample_name;
    summary.scan_path = reader->scan_path;
    summary.scan_bytes = reader->scan_file_len;
    summary.scans = reader->records.size();
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        summary.wiff_bytes = static_cast<std::uint64_t>(status.st_size);
    }
    tarvok::StrictSpectra spectra(*std::move(reader), tarvok::DamagePolicy::salvage);
    summary.retention_time_sec = time_range(spectra);
    if (plots != nullptr) {
        *plots = plots_for(summary.retention_time_sec);
    }
    melvane_core::SpectrumRecord spectrum;
    while (true) {
        const std::expected<bool, tarvok::Error> filled = spectra.next(spectrum);
        if (!filled) {
            return std::unexpected(filled.error());
        }
        if (!*filled) {
            break;
        }
        if (spectra.damage()) {
            summary.damaged.push_back(*spectra.damage());
        }
        ++summary.ms_levels[spectrum.ms_level];
        summary.peaks += spectrum.mz.size();
        if (spectrum.mz.empty()) {
            ++summary.empty_scans;
        }

        double tic = 0;
        std::size_t most_intense = 0;
        for (std::size_t i = 0; i < spectrum.mz.size(); ++i) {
            widen(summary.mz_range, spectrum.mz[i]);
            tic += spectrum.intensity[i];
            if (spectrum.intensity[i] > spectrum.intensity[most_intense]) {
                most_intense = i;
            }
        }
        const double base_peak = spectrum.mz.empty() ? 0.0 : spectrum.intensity[most_intense];
        if (!spectrum.mz.empty()) {
            if (!summary.tic_max || tic > summary.tic_max->tic) {
                summary.tic_max = TicMax{spectrum.scan_number, tic};
            }
            if (!summary.base_peak || base_peak > summary.base_peak->intensity) {
                summary.base_peak = BasePeak{spectrum.scan_number, spectrum.mz[most_intense], base_peak};
            }
        }
        if (plots != nullptr) {
            draw(**plots, spectrum, tic, base_peak);
        }
    }
    return summary;
}

}  // namespace info
