#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "finished.hpp"
#include "spectrum_filter.hpp"

namespace convert {

struct Options {
    std::vector<std::string> samples;
    std::string output_dir = ".";
    bool zlib = false;
    bool numpress = false;
    bool gzip = false;
    SpectrumFilter filter;
    int jobs = 0;  // 0: one per core
    bool quiet = false;
    bool salvage = false;  // convert damaged samples as the reader gives them, with warnings
};

using tarvok_cli::Finished;

// A conversion, or what to print and the status to leave with.
std::variant<Options, Finished> parse_command_line(int argc, char** argv);

}  // namespace convert
