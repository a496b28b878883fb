#include "write_behind.hpp"

#include <cerrno>
#include <system_error>

namespace mzml {

WriteBehind::WriteBehind(ByteSink& sink, std::size_t buffer_count) : sink_(&sink), buffers_(buffer_count)
{
    for (std::size_t i = 1; i < buffer_count; ++i) {
        free_.push_back(i);
    }
    try {
        writer_ = std::thread([this] { write_in_order(); });
        hasher_ = std::thread([this] { hash_in_order(); });
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
    to_hash_.notify_one();
    to_write_.notify_one();
    for (std::thread* thread : {&hasher_, &writer_}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
}

TextBuffer& WriteBehind::first() { return buffers_[filling_]; }

std::size_t WriteBehind::take_free(std::unique_lock<std::mutex>& lock)
{
    done_.wait(lock, [this] { return !free_.empty(); });
    const std::size_t buffer = free_.back();
    free_.pop_back();
    return buffer;
}

TextBuffer& WriteBehind::hand_over(bool hash)
{
    // After a failure nothing more is written: the buffer is simply reused.
    if (buffers_[filling_].text().empty() || error() != 0) {
        buffers_[filling_].clear();
        return buffers_[filling_];
    }
    std::unique_lock lock(mutex_);
    hash_queue_.push_back({filling_, hash});
    to_hash_.notify_one();
    filling_ = take_free(lock);
    buffers_[filling_].clear();
    return buffers_[filling_];
}

void WriteBehind::pass_through(TextBuffer& text, bool hash)
{
    if (text.text().empty() || error() != 0) {
        text.clear();
        return;
    }
    std::unique_lock lock(mutex_);
    const std::size_t buffer = take_free(lock);
    std::swap(buffers_[buffer], text);
    text.clear();
    hash_queue_.push_back({buffer, hash});
    to_hash_.notify_one();
}

void WriteBehind::drain()
{
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return hash_queue_.empty() && write_queue_.empty(); });
}

void WriteBehind::hash_in_order()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        to_hash_.wait(lock, [this] { return stop_ || !hash_queue_.empty(); });
        if (stop_) {
            return;
        }
        const Job job = hash_queue_.front();
        lock.unlock();
        if (job.hash && error() == 0) {
            sha1_.update(std::span<const char>(buffers_[job.buffer].text()));
        }
        lock.lock();
        // Into the write queue before leaving this one, so that drain() never sees both empty early.
        write_queue_.push_back(job);
        hash_queue_.pop_front();
        to_write_.notify_one();
    }
}

void WriteBehind::write_in_order()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        to_write_.wait(lock, [this] { return stop_ || !write_queue_.empty(); });
        if (stop_) {
            return;
        }
        const Job job = write_queue_.front();
        lock.unlock();
        if (error() == 0) {
            if (auto written = sink_->write(std::span<const char>(buffers_[job.buffer].text())); !written) {
                error_.store(written.error(), std::memory_order_release);
            }
        }
        lock.lock();
        write_queue_.pop_front();
        free_.push_back(job.buffer);
        done_.notify_one();
    }
}

}  // namespace mzml
