#include "unique_fd.hpp"

#include <fcntl.h>

#include <cerrno>

namespace tarvok {

UniqueFd open_read_only(const std::string& path, int& os_error)
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
