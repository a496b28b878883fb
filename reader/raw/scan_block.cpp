#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "unique_fd.hpp"
#include "payload_kernels.hpp"
#include "scan_window.hpp"
#include "tarvok/raw/layout.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
namespace {

// Windows up to this length get a buffer of their full length without asking
// the file's size; special files, which report none, are read up to it.
constexpr std::uint64_t unchecked_window_limit = 16U * 1024U * 1024U;

// A window runs between two 32-bit block offsets, and a crafted index would
// otherwise ask for gigabytes: a long window is cut to the bytes that exist.
std::expected<std::uint64_t, Error> buffer_length(int fd, std::uint64_t window_start, std::uint64_t window_length)
{
    if (window_length <= unchecked_window_limit) {
        return window_length;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return unchecked_window_limit;
    }
    const auto file_length = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t left = file_length > window_start ? file_length - window_start : 0;
    return std::min(window_length, left);
}

struct Window {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
};

// Both ends shift behind the block header; empty when the end is not beyond the start.
Window window_of(std::uint64_t start_offset, std::uint64_t end_offset)
{
    const std::uint64_t start = start_offset + layout::block_header_size;
    const std::uint64_t end = end_offset + layout::block_header_size;
    return {start, end > start ? end - start : 0};
}

// The window read into its buffer by `read_once(data, length)`: one read
// request at the descriptor's position, or positioned reads until it is whole.
template <class ReadOnce>
std::expected<std::span<const std::uint8_t>, Error> request_window(int fd, Window window, WindowBuffer& buffer,
                                                                   ReadOnce read_once)
{
    const std::expected<std::uint64_t, Error> length_found = buffer_length(fd, window.start, window.length);
    if (!length_found) {
        return std::unexpected(length_found.error());
    }
    const auto length = static_cast<std::size_t>(*length_found);
    std::uint8_t* data = buffer.room(length);
    ssize_t delivered = 0;
    do {
        delivered = read_once(data, length);
    } while (delivered < 0 && errno == EINTR);
    if (delivered < 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    return std::span<const std::uint8_t>(data, static_cast<std::size_t>(delivered));
}

}  // namespace

std::expected<std::span<const std::uint8_t>, Error> read_window(const std::string& scan_path,
                                                                std::uint64_t start_offset,
                                                                std::uint64_t end_offset, WindowBuffer& buffer)
{
    const Window window = window_of(start_offset, end_offset);
    if (window.length == 0) {
        return std::span<const std::uint8_t>();
    }
    int os_error = 0;
    const UniqueFd fd = open_read_only(scan_path, os_error);
    if (!fd) {
        return std::unexpected(Error::from_errno(os_error));
    }
    if (::lseek(fd.get(), static_cast<off_t>(window.start), SEEK_SET) < 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    return request_window(fd.get(), window, buffer,
                          [&](std::uint8_t* data, std::size_t length) { return ::read(fd.get(), data, length); });
}

std::expected<std::span<const std::uint8_t>, Error> read_window_at(int fd, std::uint64_t start_offset,
                                                                   std::uint64_t end_offset, WindowBuffer& buffer)
{
    const Window window = window_of(start_offset, end_offset);
    if (window.length == 0) {
        return std::span<const std::uint8_t>();
    }
    return request_window(fd, window, buffer, [&](std::uint8_t* data, std::size_t length) -> ssize_t {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t delivered =
                ::pread(fd, data + done, length - done, static_cast<off_t>(window.start + done));
            if (delivered < 0 && errno == EINTR) {
                continue;
            }
            if (delivered < 0) {
                return delivered;
            }
            if (delivered == 0) {
                break;
            }
            done += static_cast<std::size_t>(delivered);
        }
        return static_cast<ssize_t>(done);
    });
}

std::expected<std::vector<ScanPoint>, Error> read_scan_block(const std::string& scan_path, std::uint64_t start_offset,
                                                             std::uint64_t end_offset)
{
    WindowBuffer buffer;
    const std::expected<std::span<const std::uint8_t>, Error> window =
        read_window(scan_path, start_offset, end_offset, buffer);
    if (!window) {
        return std::unexpected(window.error());
    }
    return decode_payload(window->first(payload_length(*window)));
}

}  // namespace tarvok::raw
