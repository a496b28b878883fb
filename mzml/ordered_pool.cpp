#include "ordered_pool.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

namespace mzml {

OrderedPool::OrderedPool(std::size_t threads, std::size_t slots, Job job)
    : job_(std::move(job)), states_(slots, State::free)
{
    grow(threads);
}

void OrderedPool::grow(std::size_t threads)
{
    for (std::size_t thread = workers_.size() + 1; thread < threads; ++thread) {
        try {
            workers_.emplace_back([this, thread] { work(thread); });
        } catch (const std::system_error&) {
            // Fewer workers: the owner runs what they would have.
            break;
        }
    }
    wanted_ring_ = std::max(wanted_ring_, std::min(states_.size(), 2 * std::max<std::size_t>(threads, 1)));
    if (ring_ == 0) {
        ring_ = wanted_ring_;
    }
    widen_ring();
}

void OrderedPool::widen_ring()
{
    if (wanted_ring_ > ring_ && oldest_ + outstanding_ < ring_) {
        ring_ = wanted_ring_;
    }
}

OrderedPool::~OrderedPool()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void OrderedPool::submit()
{
    const std::size_t slot = next_slot();
    ++outstanding_;
    {
        const std::lock_guard lock(mutex_);
        states_[slot] = State::queued;
        queue_.push_back(slot);
    }
    queued_.notify_one();
}

void OrderedPool::run_front(std::unique_lock<std::mutex>& lock, std::size_t thread)
{
    const std::size_t slot = queue_.front();
    queue_.pop_front();
    states_[slot] = State::running;
    lock.unlock();
    job_(slot, thread);
    lock.lock();
    states_[slot] = State::done;
}

void OrderedPool::work(std::size_t thread)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) {
            return;
        }
        run_front(lock, thread);
        finished_.notify_one();
    }
}

bool OrderedPool::oldest_done()
{
    const std::lock_guard lock(mutex_);
    return states_[oldest_] == State::done;
}

std::size_t OrderedPool::wait_oldest()
{
    std::unique_lock lock(mutex_);
    while (states_[oldest_] != State::done) {
        // Jobs run in queue order, so the oldest is either running or at the front.
        if (!queue_.empty()) {
            run_front(lock, 0);
        } else {
            finished_.wait(lock);
        }
    }
    return oldest_;
}

void OrderedPool::release_oldest()
{
    {
        const std::lock_guard lock(mutex_);
        states_[oldest_] = State::free;
    }
    oldest_ = (oldest_ + 1) % ring_;
    --outstanding_;
    widen_ring();
}

}  // namespace mzml
