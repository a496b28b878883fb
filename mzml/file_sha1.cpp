#include "mzml/file_sha1.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "sha1.hpp"

namespace mzml {
namespace {

class ReadFd {
public:
    // Non-blocking so that a FIFO without a writer fails instead of stalling;
    // regular files ignore the flag.
    explicit ReadFd(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ReadFd(const ReadFd&) = delete;
    ReadFd& operator=(const ReadFd&) = delete;
    ~ReadFd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

constexpr std::size_t chunk = std::size_t{1} << 20;

}  // namespace

std::expected<std::string, int> file_sha1(const std::string& path)
{
    const ReadFd fd(path);
    if (fd.get() < 0) {
        return std::unexpected(errno);
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

}  // namespace mzml
