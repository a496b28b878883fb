#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "mzml/writer.hpp"
#include "sha1.hpp"

namespace mzml {

// Hashes and writes filled buffers in order, each on a thread of its own, so
// that formatting the next buffer, hashing this one and writing the one before
// overlap: the slowest of the three sets the pace, not their sum. A few
// buffers circulate between the threads: memory stays bounded and a slow sink
// holds the formatting thread back.
class WriteBehind {
public:
    // error() is EAGAIN when a thread could not be started.
    WriteBehind(ByteSink& sink, std::size_t buffer_size, std::size_t buffer_count);
    // Stops after the write in progress (later buffers are dropped) and joins.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // A step the hasher runs once, before it hashes anything, on the first
    // buffer handed over, whose bytes it may change: for what the start of
    // the document states but is learnt later. It returns 0 or an errno,
    // which fails the stream as a failed write does. Until it is done, up to
    // `spare` more buffers are taken when the others wait behind it, so that
    // formatting goes on meanwhile; they are freed once written. Call before
    // the first hand_over.
    using FirstStep = std::function<int(std::span<char> first)>;
    void before_first_hash(FirstStep step, std::size_t spare);

    // The buffer to fill first.
    std::span<char> first();
    // Hands over `used` bytes of the buffer being filled (hashed first when
    // `hash`) and returns the next one to fill, waiting until one is free.
    std::span<char> hand_over(std::size_t used, bool hash);
    // Waits until every buffer handed over has been hashed and written.
    void drain();
    // SHA-1 of the hashed bytes; call after drain().
    std::string hex_digest() { return sha1_.hex_digest(); }
    // The errno of the first failed write; nothing is written after it.
    int error() const { return error_.load(std::memory_order_acquire); }

private:
    struct Job {
        std::size_t buffer;
        std::size_t used;
        bool hash;
    };
    // A buffer to fill, waiting until one is free; called with the lock held.
    std::size_t take_free(std::unique_lock<std::mutex>& lock);
    void hash_in_order();
    void write_in_order();

    ByteSink* sink_;
    // The regular ones first, then the spare ones, empty until taken.
    std::vector<std::vector<char>> buffers_;
    std::size_t buffer_size_;
    std::size_t regular_;
    std::size_t filling_ = 0;  // the formatting thread's buffer
    FirstStep first_step_;
    tarvok::Sha1 sha1_;        // used by the hasher, or after drain()
    std::atomic<int> error_ = 0;

    std::mutex mutex_;
    std::condition_variable to_hash_;   // a job queued for hashing, or stop
    std::condition_variable to_write_;  // a job hashed, or stop
    std::condition_variable done_;      // a buffer free again
    // The job in progress stays at the front of its queue.
    std::deque<Job> hash_queue_;
    std::deque<Job> write_queue_;
    std::vector<std::size_t> free_;
    std::vector<std::size_t> spare_free_;
    bool first_hashed_ = false;
    bool stop_ = false;
    std::thread hasher_;
    std::thread writer_;
};

}  // namespace mzml
