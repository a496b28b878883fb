#include "file_sha1.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "sha1.hpp"
#include "unique_fd.hpp"

namespace tarvok {
namespace {

constexpr std::size_t chunk = std::size_t{1} << 20;

}  // namespace

std::expected<std::string, int> file_sha1(const std::string& path)
{
    int os_error = 0;
    const UniqueFd fd = open_read_only(path, os_error);
    if (!fd) {
        return std::unexpected(os_error);
    }
    // A FIFO or device would give some bytes, or none, but not a file's content.
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return std::unexpected(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return std::unexpected(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buffer(chunk);
    Sha1 sha1;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(errno);
        }
        if (n == 0) {
            return sha1.hex_digest();
        }
        sha1.update(std::span<const char>(buffer.data(), static_cast<std::size_t>(n)));
    }
}

}  // namespace tarvok
