#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

namespace convert {

// Shares the threads of -j between the samples: a sample starting takes the
// threads then free divided by the samples not yet started, itself included
// (at least one), encodes its spectra on them and gives them back when done.
// So one sample gets them all, and the last samples to start get what the
// first ones left. Once every sample has started, the threads of those that
// finish go to those still running.
class ThreadShares {
public:
    ThreadShares(std::size_t threads, std::size_t samples) : threads_(threads), free_(threads), samples_(samples) {}

    struct Start {
        std::size_t sample;  // its position in the list
        std::size_t threads;
    };
    // The next sample and its threads; empty once every sample has started.
    std::optional<Start> next();
    // More threads for a running sample: none while a sample is left to
    // start, else the free ones divided by the samples running, rounded up.
    std::size_t more();
    // A finished sample's threads, those it got from more() included.
    void give_back(std::size_t threads);
    std::size_t threads() const { return threads_; }

private:
    std::mutex mutex_;
    const std::size_t threads_;
    std::size_t free_;
    std::size_t samples_;
    std::size_t started_ = 0;
    std::size_t finished_ = 0;
};

}  // namespace convert
