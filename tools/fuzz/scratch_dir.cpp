#include "scratch_dir.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "report.hpp"

namespace fuzz {
namespace {

std::string base_dir()
{
    if (::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored).string();
}

}  // namespace

ScratchDir::ScratchDir()
{
    std::string pattern = base_dir() + "/tarvok-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        fail("cannot create a scratch directory");
    }
    dir_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDir::path(std::string_view name) const
{
    return dir_ + "/" + std::string(name);
}

void ScratchDir::write(std::string_view name, std::span<const std::uint8_t> bytes) const
{
    const std::string file = path(name);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("cannot create " + file);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            fail("cannot write " + file);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace fuzz
