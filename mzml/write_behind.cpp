#include "write_behind.hpp"

#include <malloc.h>

#include <cerrno>
#include <system_error>

namespace mzml {

WriteBehind::WriteBehind(ByteSink& sink, std::size_t buffer_size, std::size_t buffer_count)
    : sink_(&sink), buffers_(buffer_count, std::vector<char>(buffer_size)), buffer_size_(buffer_size),
      regular_(buffer_count)
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

void WriteBehind::before_first_hash(FirstStep step, std::size_t spare)
{
    const std::lock_guard lock(mutex_);
    first_step_ = std::move(step);
    buffers_.resize(regular_ + spare);
    for (std::size_t i = regular_ + spare; i > regular_; --i) {
        spare_free_.push_back(i - 1);
    }
}

std::span<char> WriteBehind::first() { return buffers_[filling_]; }

std::size_t WriteBehind::take_free(std::unique_lock<std::mutex>& lock)
{
    done_.wait(lock, [this] { return !free_.empty() || (!first_hashed_ && !spare_free_.empty()); });
    std::vector<std::size_t>& from = free_.empty() ? spare_free_ : free_;
    const std::size_t buffer = from.back();
    from.pop_back();
    return buffer;
}

std::span<char> WriteBehind::hand_over(std::size_t used, bool hash)
{
    // After a failure nothing more is written: the buffer is simply reused.
    if (used == 0 || error() != 0) {
        return buffers_[filling_];
    }
    std::unique_lock lock(mutex_);
    hash_queue_.push_back({filling_, used, hash});
    to_hash_.notify_one();
    filling_ = take_free(lock);
    lock.unlock();
    // A spare buffer gets its storage when first taken, by its new owner.
    buffers_[filling_].resize(buffer_size_);
    return buffers_[filling_];
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
        if (first_step_) {
            if (const int failed = first_step_(std::span<char>(buffers_[job.buffer].data(), job.used)); failed != 0) {
                error_.store(failed, std::memory_order_release);
            }
            first_step_ = nullptr;
            const std::lock_guard first_done(mutex_);
            first_hashed_ = true;
        }
        if (job.hash && error() == 0) {
            sha1_.update(std::span<const char>(buffers_[job.buffer].data(), job.used));
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
            if (auto written = sink_->write(std::span<const char>(buffers_[job.buffer].data(), job.used)); !written) {
                error_.store(written.error(), std::memory_order_release);
            }
        }
        lock.lock();
        write_queue_.pop_front();
        bool release = false;
        if (job.buffer < regular_) {
            free_.push_back(job.buffer);
        } else if (!first_hashed_) {
            spare_free_.push_back(job.buffer);
        } else {
            release = true;
        }
        done_.notify_one();
        if (release) {
            // No list holds it any more: its storage goes, without the lock.
            lock.unlock();
            std::vector<char>().swap(buffers_[job.buffer]);
            ::malloc_trim(0);
            lock.lock();
        }
    }
}

}  // namespace mzml
