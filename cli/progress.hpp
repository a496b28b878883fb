#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace convert {

// One line per running sample on standard error, redrawn a few times a
// second and when the terminal is resized, with messages printed above the
// lines. Each line is cut to one column less than the terminal's width, and
// at most its height minus one lines are drawn: when more samples run, the
// last line says how many are not shown ("  +N more"). When disabled only the
// messages appear.
class Progress {
public:
    // Enabled, it blocks SIGWINCH in the calling thread, which the redraw
    // thread then waits for: constructed before any other thread starts, so
    // that all of them inherit the mask.
    Progress(bool enabled, std::size_t slots);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void start(std::size_t slot, std::string name, std::size_t scans, std::uint64_t scan_bytes);
    void advance(std::size_t slot, std::size_t scans_done)
    {
        slots_[slot].done.store(scans_done, std::memory_order_relaxed);
    }
    void finish(std::size_t slot);

    // One line on standard error, shown whether or not progress is; bytes
    // that are not UTF-8 as U+FFFD.
    void message(const std::string& line);
    // Ends the redrawing; the summary goes out only when progress is shown.
    void summary(const std::string& line);

private:
    struct Slot {
        std::string name;
        std::size_t scans = 0;
        std::uint64_t scan_bytes = 0;
        std::chrono::steady_clock::time_point started;
        bool running = false;
        std::atomic<std::size_t> done{0};
    };

    void redraw_loop();
    void erase_locked();
    void draw_locked();
    void stop();

    const bool enabled_;
    std::vector<Slot> slots_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::size_t lines_drawn_ = 0;
    std::thread redraw_;
};

}  // namespace convert
