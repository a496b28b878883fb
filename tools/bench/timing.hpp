#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace bench {

inline double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Median of the seconds `timed_run` reports over `repetitions` runs, after one
// run that warms caches and the allocator.
template <class TimedRun>
double median_of(int repetitions, TimedRun&& timed_run)
{
    timed_run();
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        times.push_back(timed_run());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

template <class Work>
double median_seconds(int repetitions, Work&& work)
{
    return median_of(repetitions, [&] {
        const auto start = std::chrono::steady_clock::now();
        work();
        return seconds_since(start);
    });
}

// The same median over the process's CPU time (user and system).
template <class Work>
double median_cpu_seconds(int repetitions, Work&& work)
{
    const auto cpu_now = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    return median_of(repetitions, [&] {
        const double start = cpu_now();
        work();
        return cpu_now() - start;
    });
}

}  // namespace bench
