#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "mzml/writer.hpp"
#include "sha1.hpp"

namespace mzml {

// Hashes and writes filled buffers in order on a thread of its own, so that
// formatting the next buffer overlaps the SHA-1 and the system calls. A few
// buffers circulate between the two threads: memory stays bounded and a slow
// sink holds the formatting thread back.
class WriteBehind {
public:
    // error() is EAGAIN when the thread could not be started.
    WriteBehind(ByteSink& sink, std::size_t buffer_size, std::size_t buffer_count);
    // Stops after the write in progress (later buffers are dropped) and joins.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

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
    void run();

    ByteSink* sink_;
    std::vector<std::vector<char>> buffers_;
    std::size_t filling_ = 0;  // the formatting thread's buffer
    tarvok::Sha1 sha1_;        // used by the companion, or after drain()
    std::atomic<int> error_ = 0;

    std::mutex mutex_;
    std::condition_variable work_;  // a job queued, or stop
    std::condition_variable done_;  // a buffer free again
    std::deque<Job> queue_;         // the job in progress stays at the front
    std::vector<std::size_t> free_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace mzml
