#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../unique_fd.hpp"
#include "scan_window.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Special files report no meaningful size; their reads are bounded instead.
constexpr std::uint64_t special_file_read_limit = 16U * 1024U * 1024U;

// The window's bytes that can exist: a window runs between two 32-bit block
// offsets, and a crafted index would otherwise ask for gigabytes.
std::uint64_t buffer_length(const struct stat& status, std::uint64_t window_start, std::uint64_t window_length)
{
    if (!S_ISREG(status.st_mode)) {
        return std::min(window_length, special_file_read_limit);
    }
    const auto file_length = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t left = file_length > window_start ? file_length - window_start : 0;
    return std::min(window_length, left);
}

}  // namespace

std::expected<WindowBytes, Error> read_window(const std::string& scan_path, std::uint64_t start_offset,
                                              std::uint64_t end_offset)
{
    const std::uint64_t window_start = start_offset + block_header_size;
    const std::uint64_t window_end = end_offset + block_header_size;
    if (window_end <= window_start) {
        return WindowBytes();
    }
    const std::uint64_t window_length = window_end - window_start;

    int os_error = 0;
    const UniqueFd fd = open_read_only(scan_path, os_error);
    if (!fd) {
        return std::unexpected(Error::from_errno(os_error));
    }
    if (::lseek(fd.get(), static_cast<off_t>(window_start), SEEK_SET) < 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    const auto length = static_cast<std::size_t>(buffer_length(status, window_start, window_length));
    auto data = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    ssize_t delivered = 0;
    do {
        delivered = ::read(fd.get(), data.get(), length);
    } while (delivered < 0 && errno == EINTR);
    if (delivered < 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    return WindowBytes(std::move(data), static_cast<std::size_t>(delivered));
}

std::size_t payload_length(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t terminator[] = {0xFF, 0xFF, 0xFF, 0xFF};
    const auto found = std::search(bytes.begin(), bytes.end(), std::begin(terminator), std::end(terminator));
    return static_cast<std::size_t>(found - bytes.begin());
}

std::expected<std::vector<ScanPoint>, Error> read_scan_block(const std::string& scan_path, std::uint64_t start_offset,
                                                             std::uint64_t end_offset)
{
    std::expected<WindowBytes, Error> window = read_window(scan_path, start_offset, end_offset);
    if (!window) {
        return std::unexpected(std::move(window.error()));
    }
    const std::span<const std::uint8_t> bytes = window->bytes();
    return decode_payload(bytes.first(payload_length(bytes)));
}

}  // namespace tarvok::raw
