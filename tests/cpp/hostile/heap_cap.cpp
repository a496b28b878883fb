#include "heap_cap.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "asan_build.hpp"

#ifdef HOSTILE_UNDER_ASAN
// The sanitizer runtime's allocator interface; g++ ships no header for it.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                              void (*free_hook)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* pointer);
}
#endif

namespace hostile {
namespace {

std::size_t cap = 0;

#ifdef HOSTILE_UNDER_ASAN
std::size_t live = 0;
std::size_t peak = 0;

void count_malloc(const volatile void*, std::size_t size)
{
    live += size;
    peak = live > peak ? live : peak;
}

void count_free(const volatile void* pointer)
{
    live -= __sanitizer_get_allocated_size(pointer);
}
#else
std::size_t mapped_bytes()
{
    unsigned long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}
#endif

}  // namespace

void cap_heap(std::size_t bytes)
{
    cap = bytes;
#ifdef HOSTILE_UNDER_ASAN
    __sanitizer_install_malloc_and_free_hooks(count_malloc, count_free);
#else
    const rlimit limit{mapped_bytes() + bytes, RLIM_INFINITY};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

std::string heap_cap_verdict()
{
#ifdef HOSTILE_UNDER_ASAN
    if (peak > cap) {
        return "the heap grew by up to " + std::to_string(peak) + " bytes, over the cap of " + std::to_string(cap);
    }
#endif
    return {};
}

}  // namespace hostile
