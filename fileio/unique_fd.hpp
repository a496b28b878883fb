#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <expected>
#include <string>
#include <utility>

namespace tarvok {

// Sole owner of a file descriptor; closes it, ignoring the result, when released.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes now, for the writers that must know whether close failed.
    std::expected<void, int> close()
    {
        if (::close(std::exchange(fd_, -1)) != 0) {
            return std::unexpected(errno);
        }
        return {};
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Read-only, close-on-exec, and non-blocking so that a FIFO without a writer
// or a terminal cannot stall the open; regular files ignore the flag.
inline UniqueFd open_read_only(const std::string& path, int& os_error)
{
    // c_str() would silently cut the path at a NUL and name another file.
    if (path.find('\0') != std::string::npos) {
        os_error = EINVAL;
        return UniqueFd();
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    os_error = fd < 0 ? errno : 0;
    return UniqueFd(fd);
}

}  // namespace tarvok
