#include "progress.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "tarvok/path_rules.hpp"
#include "terminal_text.hpp"
#include "write_all.hpp"

namespace convert {
namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(200);

void to_stderr(const std::string& text)
{
    // Nowhere to report that standard error failed.
    (void)tarvok::write_all(STDERR_FILENO, text);
}

sigset_t resize_signal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGWINCH);
    return set;
}

// Until the interval has passed or the terminal has been resized.
void wait_for_resize()
{
    const sigset_t set = resize_signal();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(redraw_interval);
    const timespec timeout{.tv_sec = seconds.count(),
                           .tv_nsec = std::chrono::nanoseconds(redraw_interval - seconds).count()};
    ::sigtimedwait(&set, nullptr, &timeout);
}

struct TerminalSize {
    std::size_t columns = 0;  // 0: unknown, nothing is cut
    std::size_t rows = 0;     // 0: unknown, every line is drawn
};

TerminalSize terminal_size()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) {
        return {};
    }
    return {size.ws_col, size.ws_row};
}

}  // namespace

Progress::Progress(bool enabled, std::size_t slots) : enabled_(enabled), slots_(slots)
{
    if (enabled_) {
        const sigset_t set = resize_signal();
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
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
    s.name = harmless(name, "?");
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
    to_stderr(tarvok::path_rules::lossy_text(line) + "\n");
    draw_locked();
}

void Progress::summary(const std::string& line)
{
    stop();
    if (enabled_) {
        to_stderr(line + "\n");
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
    // Ends the wait at once; pending until then if it comes first.
    ::pthread_kill(redraw_.native_handle(), SIGWINCH);
    redraw_.join();
}

void Progress::redraw_loop()
{
    while (true) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            erase_locked();
            draw_locked();
        }
        wait_for_resize();
    }
}

void Progress::erase_locked()
{
    if (enabled_ && lines_drawn_ > 0) {
        // Up to the first drawn line, then clear to the end of the screen.
        to_stderr("\x1b[" + std::to_string(lines_drawn_) + "F\x1b[J");
        lines_drawn_ = 0;
    }
}

void Progress::draw_locked()
{
    if (!enabled_ || stopping_) {
        return;
    }
    const TerminalSize size = terminal_size();
    // The last column is left free: some terminals wrap on reaching it.
    const std::size_t width = size.columns > 1 ? size.columns - 1 : SIZE_MAX;
    std::size_t running = 0;
    for (const Slot& s : slots_) {
        running += s.running ? 1 : 0;
    }
    // The cursor's line stays below the drawn ones, or the erase could not
    // reach the first of them.
    const std::size_t room = size.rows > 0 ? size.rows - 1 : SIZE_MAX;
    const std::size_t shown = running <= room ? running : room > 0 ? room - 1 : 0;
    const auto now = std::chrono::steady_clock::now();
    std::string text;
    std::size_t drawn = 0;
    for (const Slot& s : slots_) {
        if (!s.running || drawn == shown) {
            continue;
        }
        const std::size_t done = s.done.load(std::memory_order_relaxed);
        const double seconds = std::chrono::duration<double>(now - s.started).count();
        const double bytes = s.scans == 0 ? 0.0 : static_cast<double>(s.scan_bytes) * done / s.scans;
        char line[160];
        std::snprintf(line, sizeof line, "%zu/%zu scans, %.1f MB/s", done, s.scans,
                      seconds > 0 ? bytes / 1e6 / seconds : 0.0);
        text += cut_to_columns("  " + s.name + ": " + line, width) + "\n";
        ++drawn;
    }
    if (shown < running && room > 0) {
        text += cut_to_columns("  +" + std::to_string(running - shown) + " more", width) + "\n";
        ++drawn;
    }
    lines_drawn_ = drawn;
    to_stderr(text);
}

}  // namespace convert
