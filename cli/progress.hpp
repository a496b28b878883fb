#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace convert {

// One line per running sample on standard error, redrawn a few times a
// second, with messages printed above the lines. When disabled only the
// messages appear.
class Progress {
public:
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

    // One line on standard error, shown whether or not progress is.
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
    std::condition_variable wake_;
    bool stopping_ = false;
    std::size_t lines_drawn_ = 0;
    std::thread redraw_;
};

}  // namespace convert
