#include "command_line.hpp"

#include <charconv>

namespace sample_writer::cli {

namespace {

template <typename Number>
std::expected<Number, std::string> parse_number(std::string_view option, std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::unexpected(std::string(option) + " needs an unsigned integer, got '" + std::string(text) + "'");
    }
    return value;
}

// Walks the arguments that follow the command word.
class ArgumentCursor {
public:
    explicit ArgumentCursor(std::span<const std::string_view> args) : args_(args) {}

    bool done() const { return next_ >= args_.size(); }
    std::string_view current() const { return args_[next_]; }
    void skip() { ++next_; }

    std::expected<std::string_view, std::string> value_of(std::string_view option) {
        if (next_ + 1 >= args_.size()) {
            return std::unexpected(std::string(option) + " needs a value");
        }
        next_ += 2;
        return args_[next_ - 1];
    }

private:
    std::span<const std::string_view> args_;
    std::size_t next_ = 0;
};

std::expected<void, std::string> take_output(std::string& wiff_path, std::string_view arg) {
    if (arg.starts_with("--")) {
        return std::unexpected("unknown option '" + std::string(arg) + "'");
    }
    if (!wiff_path.empty()) {
        return std::unexpected("more than one output path ('" + wiff_path + "', '" + std::string(arg) + "')");
    }
    wiff_path = arg;
    return {};
}

std::expected<Command, std::string> parse_run(ArgumentCursor cursor) {
    RunCommand command;
    while (!cursor.done()) {
        const std::string_view arg = cursor.current();
        if (arg == "--scans" || arg == "--seed") {
            auto value = cursor.value_of(arg);
            if (!value) {
                return std::unexpected(value.error());
            }
            if (arg == "--scans") {
                auto scans = parse_number<std::uint32_t>(arg, *value);
                if (!scans) {
                    return std::unexpected(scans.error());
                }
                command.scans = *scans;
            } else {
                auto seed = parse_number<std::uint64_t>(arg, *value);
                if (!seed) {
                    return std::unexpected(seed.error());
                }
                command.seed = *seed;
            }
            continue;
        }
        if (auto taken = take_output(command.wiff_path, arg); !taken) {
            return std::unexpected(taken.error());
        }
        cursor.skip();
    }
    if (command.wiff_path.empty()) {
        return std::unexpected("run needs an output path");
    }
    return command;
}

std::expected<Command, std::string> parse_exact(ArgumentCursor cursor) {
    ExactCommand command;
    bool no_idx = false;
    while (!cursor.done()) {
        const std::string_view arg = cursor.current();
        if (arg == "--no-idx") {
            no_idx = true;
            cursor.skip();
            continue;
        }
        if (arg == "--idx" || arg == "--scan" || arg == "--stream") {
            auto value = cursor.value_of(arg);
            if (!value) {
                return std::unexpected(value.error());
            }
            if (arg == "--idx") {
                command.idx_file = std::string(*value);
            } else if (arg == "--scan") {
                command.scan_file = std::string(*value);
            } else {
                const std::size_t equals = value->find('=');
                if (equals == std::string_view::npos) {
                    return std::unexpected("--stream needs PATH=FILE, got '" + std::string(*value) + "'");
                }
                command.streams.push_back({std::string(value->substr(0, equals)), std::string(value->substr(equals + 1))});
            }
            continue;
        }
        if (auto taken = take_output(command.wiff_path, arg); !taken) {
            return std::unexpected(taken.error());
        }
        cursor.skip();
    }
    if (command.wiff_path.empty()) {
        return std::unexpected("exact needs an output path");
    }
    if (no_idx) {
        command.idx_file.reset();
    } else if (!command.idx_file) {
        return std::unexpected("exact needs --idx FILE or --no-idx");
    }
    return command;
}

}  // namespace

std::expected<Command, std::string> parse_command_line(std::span<const std::string_view> args) {
    if (args.empty()) {
        return std::unexpected("no command given");
    }
    const ArgumentCursor rest(args.subspan(1));
    if (args[0] == "run") {
        return parse_run(rest);
    }
    if (args[0] == "exact") {
        return parse_exact(rest);
    }
    return std::unexpected("unknown command '" + std::string(args[0]) + "'");
}

}  // namespace sample_writer::cli
