#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

namespace convert {

// Shares the threads of -j between the samples: a sample starting takes the
// threads then free divided by the samples not yet started, itself included
// (at least one), encodes its spectra on them and gives them back when done.
// So one sample gets them all, and the last samples to start get what the
// first ones left.
class ThreadShares {
public:
    ThreadShares(std::size_t threads, std::size_t samples) : free_(threads), samples_(samples) {}

    struct Start {
        std::size_t sample;  // its position in the list
        std::size_t threads;
    };
    // The next sample and its threads; empty once every sample has started.
    std::optional<Start> next();
    void give_back(std::size_t threads);

private:
    std::mutex mutex_;
    std::size_t free_;
    std::size_t samples_;
    std::size_t started_ = 0;
};

}  // namespace convert
