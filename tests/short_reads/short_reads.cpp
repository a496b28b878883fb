// Preloaded into a program under test: each positioned read of a file whose
// name ends in ".scan" first fails with EINTR, then delivers at most a few
// bytes, as a network file system or a signal may make it. At exit the count
// of shortened reads goes to the file TARVOK_SHORT_READS_LOG names, so a test
// can tell that the reads it meant to shorten were shortened.
// Both names are defined, so neither may be the other's alias.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::size_t most_per_read = 7;

std::atomic<unsigned long> shortened{0};
std::atomic<unsigned long> calls{0};

bool is_scan_file(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target);
    return length > 0 && std::string_view(target, static_cast<std::size_t>(length)).ends_with(".scan");
}

using PreadFn = ssize_t (*)(int, void*, std::size_t, off64_t);

ssize_t shorten(PreadFn real, int fd, void* buffer, std::size_t count, off64_t offset)
{
    if (count == 0 || !is_scan_file(fd)) {
        return real(fd, buffer, count, offset);
    }
    if (calls++ % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    if (count > most_per_read) {
        ++shortened;
    }
    return real(fd, buffer, std::min(count, most_per_read), offset);
}

struct Report {
    ~Report()
    {
        if (const char* path = std::getenv("TARVOK_SHORT_READS_LOG")) {
            if (std::FILE* log = std::fopen(path, "w")) {
                std::fprintf(log, "%lu\n", shortened.load());
                std::fclose(log);
            }
        }
    }
} report;

}  // namespace

extern "C" ssize_t pread64(int fd, void* buffer, std::size_t count, off64_t offset)
{
    static const auto real = reinterpret_cast<PreadFn>(::dlsym(RTLD_NEXT, "pread64"));
    return shorten(real, fd, buffer, count, offset);
}

extern "C" ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset)
{
    static const auto real = reinterpret_cast<PreadFn>(::dlsym(RTLD_NEXT, "pread"));
    return shorten(real, fd, buffer, count, offset);
}
