#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "../finished.hpp"

namespace info {

struct Options {
    std::vector<std::string> samples;
    bool json = false;
    std::optional<std::string> html;  // the report file, or with several samples their directory
};

using tarvok_cli::Finished;

std::variant<Options, Finished> parse_command_line(int argc, char** argv);

}  // namespace info
