#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <utility>
#include <vector>

namespace bench {

inline double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <class Work>
double seconds_of(Work& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return seconds_since(start);
}

inline double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
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
    return median(std::move(times));
}

template <class Work>
double median_seconds(int repetitions, Work&& work)
{
    return median_of(repetitions, [&] { return seconds_of(work); });
}

// Medians of two pieces of work timed in turn, one run of each per
// repetition: a ratio of the two then compares runs made under the same load,
// where timing one after the other lets a change of load between them show as
// a change of speed.
template <class First, class Second>
std::pair<double, double> interleaved_medians(int repetitions, First&& first, Second&& second)
{
    seconds_of(first);
    seconds_of(second);
    std::vector<double> first_times;
    std::vector<double> second_times;
    for (int r = 0; r < repetitions; ++r) {
        first_times.push_back(seconds_of(first));
        second_times.push_back(seconds_of(second));
    }
    return {median(std::move(first_times)), median(std::move(second_times))};
}

// The process's CPU time (user and system) that one run of the work took.
template <class Work>
double cpu_seconds_of(Work& work)
{
    const auto cpu_now = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    const double start = cpu_now();
    work();
    return cpu_now() - start;
}

// The same median over the process's CPU time.
template <class Work>
double median_cpu_seconds(int repetitions, Work&& work)
{
    return median_of(repetitions, [&] { return cpu_seconds_of(work); });
}

}  // namespace bench
