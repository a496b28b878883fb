#pragma once

#include <unistd.h>

#include <cerrno>
#include <expected>
#include <span>

namespace tarvok {

// Writes every byte to `fd`, going on after short writes and EINTR; any other
// failure returns its errno.
inline std::expected<void, int> write_all(int fd, std::span<const char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(errno);
        }
        if (n == 0) {
            return std::unexpected(EIO);  // no progress and no reason: never spin
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

}  // namespace tarvok
