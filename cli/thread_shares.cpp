#include "thread_shares.hpp"

#include <algorithm>

namespace convert {

std::optional<ThreadShares::Start> ThreadShares::next()
{
    const std::lock_guard lock(mutex_);
    if (started_ == samples_) {
        return std::nullopt;
    }
    const std::size_t threads = std::max<std::size_t>(1, free_ / (samples_ - started_));
    free_ -= std::min(free_, threads);
    return Start{started_++, threads};
}

std::size_t ThreadShares::more()
{
    const std::lock_guard lock(mutex_);
    if (started_ < samples_ || free_ == 0 || started_ == finished_) {
        return 0;
    }
    const std::size_t running = started_ - finished_;
    const std::size_t threads = (free_ + running - 1) / running;
    free_ -= threads;
    return threads;
}

void ThreadShares::give_back(std::size_t threads)
{
    const std::lock_guard lock(mutex_);
    free_ += threads;
    ++finished_;
}

}  // namespace convert
