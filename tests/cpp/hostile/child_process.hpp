#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

// Hostile inputs run in a forked child, so that a hang, a crash, a runaway
// allocation or a word on stderr is observed instead of suffered.
namespace hostile {

struct ChildLimits {
    std::chrono::seconds time{60};
    // Heap the child may add to what it had when it started.
    std::size_t heap_bytes = std::size_t{256} << 20U;
};

struct ChildReport {
    bool timed_out = false;
    int exit_code = -1;  // -1 when killed by a signal
    int signal = 0;
    std::string failure;  // what the body found wrong, or why it could not finish
    std::string stderr_text;

    bool clean() const { return !timed_out && exit_code == 0 && failure.empty() && stderr_text.empty(); }
};

// Runs `body` in a child with fd 2 captured, the heap capped and a time
// limit after which the child is killed. `body` returns an empty string when
// everything it checked held, otherwise what did not.
ChildReport run_in_child(const std::function<std::string()>& body, const ChildLimits& limits = {});

// One line for a test's failure message.
std::string describe(const ChildReport& report);

}  // namespace hostile
