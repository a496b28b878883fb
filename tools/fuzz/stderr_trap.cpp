#include "stderr_trap.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "report.hpp"

namespace fuzz {
namespace {

bool stderr_is_dev_null()
{
    struct stat status {};
    return ::fstat(2, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3);
}

}  // namespace

StderrTrap::StderrTrap()
{
    if (!stderr_is_dev_null()) {
        return;
    }
    memory_file_ = ::memfd_create("fuzz-stderr", MFD_CLOEXEC);
    if (memory_file_ < 0 || ::dup2(memory_file_, 2) < 0) {
        fail("cannot trap stderr in a memory file");
    }
}

StderrTrap::~StderrTrap()
{
    if (memory_file_ >= 0) {
        ::close(memory_file_);
    }
}

void StderrTrap::check() const
{
    if (memory_file_ < 0) {
        return;
    }
    struct stat status {};
    if (::fstat(memory_file_, &status) != 0 || status.st_size == 0) {
        return;
    }
    std::string written(512, '\0');
    const ssize_t got = ::pread(memory_file_, written.data(), written.size(), 0);
    written.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::replace(written.begin(), written.end(), '\n', ' ');
    fail("the library wrote " + std::to_string(status.st_size) + " bytes to stderr: " + written);
}

}  // namespace fuzz
