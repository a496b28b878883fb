#include "progress.hpp"

#include <unistd.h>

#include <cstdio>

namespace convert {
namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(200);

void write_all(const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n <= 0) {
            return;  // nowhere to report that standard error failed
        }
        written += static_cast<std::size_t>(n);
    }
}

// A name drawn on the terminal must not carry control sequences.
std::string printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

}  // namespace

Progress::Progress(bool enabled, std::size_t slots) : enabled_(enabled), slots_(slots)
{
    if (enabled_) {
        redraw_ = std::thread([this] { redraw_loop(); });
    }
}

Progress::~Progress()
{
    stop();
}

void Progress::start(std::size_t slot, std::string name, std::size_t scans, std::uint64_t scan_bytes)
{
    const std::lock_guard lock(mutex_);
    Slot& s = slots_[slot];
    s.name = printable(std::move(name));
    s.scans = scans;
    s.scan_bytes = scan_bytes;
    s.started = std::chrono::steady_clock::now();
    s.done.store(0, std::memory_order_relaxed);
    s.running = true;
    // Drawn at once, so that even a short conversion shows its line.
    erase_locked();
    draw_locked();
}

void Progress::finish(std::size_t slot)
{
    const std::lock_guard lock(mutex_);
    slots_[slot].running = false;
}

void Progress::message(const std::string& line)
{
    const std::lock_guard lock(mutex_);
    erase_locked();
    write_all(line + "\n");
    draw_locked();
}

void Progress::summary(const std::string& line)
{
    stop();
    if (enabled_) {
        write_all(line + "\n");
    }
}

void Progress::stop()
{
    if (!redraw_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        erase_locked();
    }
    wake_.notify_all();
    redraw_.join();
}

void Progress::redraw_loop()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        erase_locked();
        draw_locked();
        wake_.wait_for(lock, redraw_interval, [this] { return stopping_; });
    }
}

void Progress::erase_locked()
{
    if (enabled_ && lines_drawn_ > 0) {
        // Up to the first drawn line, then clear to the end of the screen.
        write_all("\x1b[" + std::to_string(lines_drawn_) + "F\x1b[J");
        lines_drawn_ = 0;
    }
}

void Progress::draw_locked()
{
    if (!enabled_ || stopping_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::string text;
    for (const Slot& s : slots_) {
        if (!s.running) {
            continue;
        }
        const std::size_t done = s.done.load(std::memory_order_relaxed);
        const double seconds = std::chrono::duration<double>(now - s.started).count();
        const double bytes = s.scans == 0 ? 0.0 : static_cast<double>(s.scan_bytes) * done / s.scans;
        char line[160];
        std::snprintf(line, sizeof line, "%zu/%zu scans, %.1f MB/s", done, s.scans,
                      seconds > 0 ? bytes / 1e6 / seconds : 0.0);
        text += "  " + s.name + ": " + line + "\n";
        ++lines_drawn_;
    }
    write_all(text);
}

}  // namespace convert
