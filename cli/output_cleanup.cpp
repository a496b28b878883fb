#include "output_cleanup.hpp"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "test_hooks.hpp"

namespace convert {
namespace {

struct Slot {
    std::atomic<bool> busy{false};   // a file of this slot is being created
    std::atomic<bool> armed{false};  // `path` names a file to remove
    char path[PATH_MAX] = {};
};

// Written once before the handlers are installed; read by them.
Slot* slots = nullptr;
std::size_t slot_count = 0;
std::atomic<bool> dying{false};
// A test build's handler may linger before the end, so that the other jobs
// go on and try to create outputs after it has looked.
bool linger = false;

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_named_and_die(int signal_number)
{
    // Sequentially consistent with create_named: either a creator sees
    // `dying` and creates nothing, or this sees it busy and waits.
    dying.store(true);
    for (std::size_t i = 0; i < slot_count; ++i) {
        while (slots[i].busy.load()) {
        }
        if (slots[i].armed.load()) {
            ::unlink(slots[i].path);
        }
    }
    if (linger) {
        const timespec pause{0, 300'000'000};
        ::nanosleep(&pause, nullptr);
    }
    // SA_RESETHAND restored the default action: the re-raised signal ends
    // the process as soon as the handler returns.
    ::raise(signal_number);
}

sigset_t cleanup_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : cleanup_signals) {
        sigaddset(&set, signal_number);
    }
    return set;
}

}  // namespace

void install_output_cleanup(std::size_t count)
{
    slots = new Slot[count];  // lives as long as the process
    slot_count = count;
    linger = test_fault("slow-death");
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_named_and_die;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = cleanup_set();
    for (const int signal_number : cleanup_signals) {
        struct sigaction inherited {};
        ::sigaction(signal_number, nullptr, &inherited);
        if (inherited.sa_handler != SIG_IGN) {
            ::sigaction(signal_number, &action, nullptr);
        }
    }
}

int create_named(std::size_t slot_index, const std::string& pattern, const std::function<int(char* path)>& create)
{
    Slot& slot = slots[slot_index];
    if (pattern.size() >= sizeof slot.path) {
        return ENAMETOOLONG;
    }
    const sigset_t held = cleanup_set();
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    slot.busy.store(true);
    int error = ECANCELED;
    if (!dying.load()) {
        std::memcpy(slot.path, pattern.c_str(), pattern.size() + 1);
        error = create(slot.path);
        slot.armed.store(error == 0);
    }
    slot.busy.store(false);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return error;
}

void release_named(std::size_t slot_index) { slots[slot_index].armed.store(false); }

}  // namespace convert
