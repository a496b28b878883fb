#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sample_writer/sample_writer.hpp"

namespace sample_writer {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

std::string failure(const std::string& what, const std::string& path) {
    return "cannot " + what + " '" + path + "': " + std::strerror(errno);
}

}  // namespace

std::expected<void, std::string> write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return std::unexpected(failure("create", path));
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return std::unexpected(failure("write", path));
    }
    if (std::fclose(file.release()) != 0) {
        return std::unexpected(failure("close", path));
    }
    return {};
}

}  // namespace sample_writer
