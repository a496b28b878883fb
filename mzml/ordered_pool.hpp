#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mzml {

// Runs jobs on a few threads and gives them back in the order they were
// queued. The jobs live in a ring of slots that the caller fills; a slot is
// reused only after the caller has taken its result back, so memory stays
// bounded by the ring. The calling thread is one of the pool's threads: while
// it waits for the oldest job it runs queued ones itself, so a pool whose
// workers could not all be started still gets everything done. The ring
// in use holds two slots per thread, up to the slots given: a pool given
// more threads later keeps more jobs going, and one that never is touches
// no more slots than it needs.
//
// One thread (the owner) calls everything but the job itself.
class OrderedPool {
public:
    // job(slot, thread): thread is 0 for the owner, 1 to threads - 1 for the
    // workers, so each can keep scratch space of its own. It must not throw.
    using Job = std::function<void(std::size_t slot, std::size_t thread)>;

    OrderedPool(std::size_t threads, std::size_t slots, Job job);
    // Jobs not yet started are dropped; those running finish first.
    ~OrderedPool();
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Starts workers until the pool has `threads` threads (no fewer than it
    // has); those that cannot be started are left out.
    void grow(std::size_t threads);

    bool full() const { return outstanding_ == ring_; }
    bool empty() const { return outstanding_ == 0; }
    // The slot the next job is to be filled in; only while not full().
    std::size_t next_slot() const { return (oldest_ + outstanding_) % ring_; }
    // Queues the job filled in next_slot().
    void submit();
    // Whether the oldest job has finished, without waiting; only while not empty().
    bool oldest_done();
    // The slot of the oldest job once it has finished; only while not empty().
    std::size_t wait_oldest();
    // Frees the oldest slot, its result taken.
    void release_oldest();

private:
    enum class State { free, queued, running, done };
    void work(std::size_t thread);
    // Runs the job of the front of the queue; called with the lock held, returns with it held.
    void run_front(std::unique_lock<std::mutex>& lock, std::size_t thread);

    Job job_;
    std::vector<State> states_;  // guarded by mutex_
    std::size_t oldest_ = 0;       // the owner's alone
    std::size_t outstanding_ = 0;  // the owner's alone
    std::size_t ring_ = 0;         // the owner's alone: slots in use
    std::size_t wanted_ring_ = 0;  // the owner's alone
    // Takes the larger ring once the jobs in flight and the next slot do
    // not wrap around the end of the one in use, so no slot changes place.
    void widen_ring();
    std::mutex mutex_;
    std::condition_variable queued_;    // a job queued, or stop
    std::condition_variable finished_;  // a job done
    std::deque<std::size_t> queue_;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace mzml
