#include "output_directory.hpp"

#include <sys/stat.h>

#include <cerrno>

namespace convert {
namespace {

int make_one(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0) {
        return 0;
    }
    const int error = errno;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    }
    return error;
}

}  // namespace

int make_directories(const std::string& path)
{
    // Each prefix that ends before a slash, then the whole path.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/') {
            continue;
        }
        if (const int error = make_one(path.substr(0, slash)); error != 0) {
            return error;
        }
    }
    return make_one(path);
}

}  // namespace convert
