#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace info {

struct Options {
    std::vector<std::string> samples;
    bool json = false;
    std::optional<std::string> html;  // the report file, or with several samples their directory
};

// Text to print and the exit status to leave with (help, version, usage errors).
struct Finished {
    int status = 0;
    std::string out;
    std::string err;
};

std::variant<Options, Finished> parse_command_line(int argc, char** argv);

}  // namespace info
