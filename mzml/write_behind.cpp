#include "write_behind.hpp"

#include <cerrno>
#include <system_error>

namespace mzml {

WriteBehind::WriteBehind(ByteSink& sink, std::size_t buffer_size, std::size_t buffer_count)
    : sink_(&sink), buffers_(buffer_count, std::vector<char>(buffer_size))
{
    for (std::size_t i = 1; i < buffer_count; ++i) {
        free_.push_back(i);
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        error_.store(EAGAIN, std::memory_order_release);
    }
}

WriteBehind::~WriteBehind()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::span<char> WriteBehind::first() { return buffers_[filling_]; }

std::span<char> WriteBehind::hand_over(std::size_t used, bool hash)
{
    // After a failure nothing more is written: the buffer is simply reused.
    if (used == 0 || error() != 0) {
        return buffers_[filling_];
    }
    std::unique_lock lock(mutex_);
    queue_.push_back({filling_, used, hash});
    work_.notify_one();
    done_.wait(lock, [this] { return !free_.empty(); });
    filling_ = free_.back();
    free_.pop_back();
    return buffers_[filling_];
}

void WriteBehind::drain()
{
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return queue_.empty(); });
}

void WriteBehind::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) {
            return;
        }
        const Job job = queue_.front();
        lock.unlock();
        const std::span<const char> bytes(buffers_[job.buffer].data(), job.used);
        if (error() == 0) {
            if (job.hash) {
                sha1_.update(bytes);
            }
            if (auto written = sink_->write(bytes); !written) {
                error_.store(written.error(), std::memory_order_release);
            }
        }
        lock.lock();
        queue_.pop_front();
        free_.push_back(job.buffer);
        done_.notify_one();
    }
}

}  // namespace mzml
