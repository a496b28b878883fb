#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>

#include "progress.hpp"
#include "spectrum_filter.hpp"
#include "thread_shares.hpp"

namespace convert {

struct Job {
    std::string wiff_path;
    std::string output_path;  // "-" for standard output
    bool zlib = false;
    bool salvage = false;  // a damaged block is a warning and a marked spectrum, not the sample's failure
    bool numpress = false;
    bool gzip = false;
    SpectrumFilter filter;
};

struct Converted {
    std::uint64_t scan_bytes = 0;
};

// Converts one sample, streaming its spectra, encoded on `threads` threads
// and on those `shares` gives it more as it runs (`threads` counts them);
// a file output appears, complete, under its name only on success. The
// failure is the whole message line: "tarvok-convert: <path>: <error>".
std::expected<Converted, std::string> convert_sample(const Job& job, std::size_t slot, ThreadShares& shares,
                                                     std::size_t& threads, Progress& progress);

}  // namespace convert
