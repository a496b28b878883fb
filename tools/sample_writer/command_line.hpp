#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sample_writer::cli {

struct RunCommand {
    std::string wiff_path;
    std::uint32_t scans = 20000;
    std::uint64_t seed = 1;
};

struct ExtraStream {
    std::string stream_path;
    std::string bytes_file;
};

struct ExactCommand {
    std::string wiff_path;
    std::optional<std::string> idx_file;
    std::optional<std::string> scan_file;
    std::vector<ExtraStream> streams;
};

using Command = std::variant<RunCommand, ExactCommand>;

inline constexpr std::string_view usage =
    "usage: tarvok-sample run OUT.wiff [--scans N] [--seed S]\n"
    "       tarvok-sample exact OUT.wiff (--idx FILE | --no-idx) [--scan FILE] [--stream PATH=FILE ...]\n";

// The command the arguments (without the program name) ask for, or why they are wrong.
std::expected<Command, std::string> parse_command_line(std::span<const std::string_view> args);

}  // namespace sample_writer::cli
