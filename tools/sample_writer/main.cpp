#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "read_file.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/layout.hpp"

namespace {

using sample_writer::cli::ExactCommand;
using sample_writer::cli::RunCommand;

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int fail(const std::string& message) {
    std::fprintf(stderr, "tarvok-sample: %s\n", message.c_str());
    return exit_failure;
}

int run(const RunCommand& command) {
    const sample_writer::RunOptions options{.scans = command.scans, .seed = command.seed};
    if (auto written = sample_writer::write_run(command.wiff_path, options); !written) {
        return fail(written.error());
    }
    std::error_code error;
    const auto wiff_bytes = std::filesystem::file_size(command.wiff_path, error);
    const auto scan_bytes = std::filesystem::file_size(command.wiff_path + ".scan", error);
    if (error) {
        return fail("cannot measure what was written: " + error.message());
    }
    std::printf("%u scans, %ju bytes in %s, %ju bytes in %s.scan\n", command.scans,
                static_cast<std::uintmax_t>(wiff_bytes), command.wiff_path.c_str(),
                static_cast<std::uintmax_t>(scan_bytes), command.wiff_path.c_str());
    return 0;
}

int exact(const ExactCommand& command) {
    std::vector<sample_writer::Stream> streams;
    if (command.idx_file) {
        auto bytes = sample_writer::cli::read_file(*command.idx_file);
        if (!bytes) {
            return fail(bytes.error());
        }
        streams.push_back({std::string(tarvok::raw::layout::index_stream_path), std::move(*bytes)});
    }
    for (const auto& extra : command.streams) {
        auto bytes = sample_writer::cli::read_file(extra.bytes_file);
        if (!bytes) {
            return fail(bytes.error());
        }
        streams.push_back({extra.stream_path, std::move(*bytes)});
    }
    std::vector<std::uint8_t> scan_bytes;
    if (command.scan_file) {
        auto bytes = sample_writer::cli::read_file(*command.scan_file);
        if (!bytes) {
            return fail(bytes.error());
        }
        scan_bytes = std::move(*bytes);
    }
    if (auto written = sample_writer::write_container(command.wiff_path, streams); !written) {
        return fail(written.error());
    }
    if (command.scan_file) {
        if (auto written = sample_writer::write_file(command.wiff_path + ".scan", scan_bytes); !written) {
            return fail(written.error());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    auto command = sample_writer::cli::parse_command_line(args);
    if (!command) {
        std::fprintf(stderr, "tarvok-sample: %s\n%.*s", command.error().c_str(),
                     static_cast<int>(sample_writer::cli::usage.size()), sample_writer::cli::usage.data());
        return exit_usage;
    }
    if (const auto* run_command = std::get_if<RunCommand>(&*command)) {
        return run(*run_command);
    }
    return exact(std::get<ExactCommand>(*command));
}
