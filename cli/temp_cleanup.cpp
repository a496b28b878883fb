#include "temp_cleanup.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

namespace convert {
namespace {

struct Slot {
    std::atomic<bool> armed{false};
    char path[PATH_MAX] = {};
};

// Written once before the handlers are installed; read by them.
Slot* slots = nullptr;
std::size_t slot_count = 0;

void remove_temps_and_die(int signal_number)
{
    for (std::size_t i = 0; i < slot_count; ++i) {
        if (slots[i].armed.load(std::memory_order_acquire)) {
            ::unlink(slots[i].path);
        }
    }
    // SA_RESETHAND restored the default action: the re-raised signal ends
    // the process as soon as the handler returns.
    ::raise(signal_number);
}

}  // namespace

void install_temp_cleanup(std::size_t count)
{
    slots = new Slot[count];  // lives as long as the process
    slot_count = count;
    struct sigaction action {};
    action.sa_handler = remove_temps_and_die;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal_number);
    }
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

int create_temp(std::size_t slot_index, const std::string& final_path, TempFile& created)
{
    const std::size_t slash = final_path.rfind('/');
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string pattern =
        final_path.substr(0, name_at) + "." + final_path.substr(name_at) + ".XXXXXX";
    Slot& slot = slots[slot_index];
    if (pattern.size() >= sizeof slot.path) {
        return ENAMETOOLONG;
    }
    // mkstemp fills the name in place before it creates the file, so the
    // handler always sees the name of a file that may exist.
    std::memcpy(slot.path, pattern.c_str(), pattern.size() + 1);
    slot.armed.store(true, std::memory_order_release);
    const int fd = ::mkostemp(slot.path, O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        slot.armed.store(false, std::memory_order_release);
        return error;
    }
    created.fd = fd;
    created.path = slot.path;
    return 0;
}

void release_temp(std::size_t slot_index)
{
    slots[slot_index].armed.store(false, std::memory_order_release);
}

}  // namespace convert
