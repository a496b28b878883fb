#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

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

// What the command line asks for: a conversion, or text to print and the
// exit status to leave with (help, version, usage errors).
struct Finished {
    int status = 0;
    std::string out;  // for standard output
    std::string err;  // for standard error
};

std::variant<Options, Finished> parse_command_line(int argc, char** argv);

}  // namespace convert
