#include "mzml/fd_sink.hpp"

#include <unistd.h>

#include <cerrno>

namespace mzml {

std::expected<void, int> FdSink::write(std::span<const char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
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

}  // namespace mzml
