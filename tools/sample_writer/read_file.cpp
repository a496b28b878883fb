#include "read_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace sample_writer::cli {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> read_file(const std::string& path) {
    const std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::unexpected("cannot open '" + path + "': " + std::strerror(errno));
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (std::ferror(file.get()) != 0) {
        return std::unexpected("cannot read '" + path + "': " + std::strerror(errno));
    }
    return bytes;
}

}  // namespace sample_writer::cli
