#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "thread_shares.hpp"

namespace {

// Runs min(threads, samples) slots as tarvok-convert does; a slot finishes its
// sample when the schedule says so. Returns the threads of each sample in the
// order they started, and checks that no more than `threads` are ever held.
std::vector<std::size_t> shares_of(std::size_t threads, std::size_t samples, const std::vector<std::size_t>& finishing)
{
    convert::ThreadShares shares(threads, samples);
    std::vector<std::size_t> started;
    std::vector<std::size_t> running;  // threads held per slot
    std::size_t held = 0;
    const auto start = [&] {
        const auto next = shares.next();
        if (next) {
            EXPECT_EQ(next->sample, started.size());
            started.push_back(next->threads);
            running.push_back(next->threads);
            held += next->threads;
            EXPECT_LE(held, threads);
        }
    };
    for (std::size_t slot = 0; slot < std::min(threads, samples); ++slot) {
        start();
    }
    for (const std::size_t slot : finishing) {
        held -= running[slot];
        shares.give_back(running[slot]);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(slot));
        start();
    }
    EXPECT_FALSE(shares.next().has_value());
    return started;
}

TEST(ThreadShares, OneSampleTakesThemAllAndTheLastToStartWhatIsLeft)
{
    struct Case {
        std::size_t threads;
        std::size_t samples;
        std::vector<std::size_t> finishing;  // running slot that finishes next
        std::vector<std::size_t> expected;
    };
    const Case cases[] = {
        {4, 1, {}, {4}},
        {1, 1, {}, {1}},
        {4, 2, {}, {2, 2}},
        {4, 3, {}, {1, 1, 2}},
        {8, 3, {}, {2, 3, 3}},
        {2, 4, {0, 0}, {1, 1, 1, 1}},
        {4, 6, {0, 0}, {1, 1, 1, 1, 1, 1}},
        {6, 4, {}, {1, 1, 2, 2}},
        // More samples than threads: one each, the last ones too, as the others still hold theirs.
        {2, 3, {1}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shares_of(c.threads, c.samples, c.finishing), c.expected) << c.threads << " threads, " << c.samples
                                                                          << " samples";
    }
}

}  // namespace

// Once no sample is left to start, the threads of those that finish go to those still running.
TEST(ThreadShares, FinishedSamplesThreadsGoToThoseRunning)
{
    struct Case {
        std::size_t threads;
        std::size_t samples;
        std::size_t finishing;               // the started sample that finishes first
        std::vector<std::size_t> more;       // what the others still running get, in turn
    };
    const Case cases[] = {
        {4, 2, 0, {2}},
        {2, 2, 1, {1}},
        {5, 3, 0, {1, 0}},     // started 1, 2, 2: the one thread freed goes to the first to ask
        {8, 3, 2, {2, 1}},     // started 2, 3, 3: three freed, shared by the two left
        {3, 1, 0, {}},
    };
    for (const Case& c : cases) {
        convert::ThreadShares shares(c.threads, c.samples);
        std::vector<std::size_t> held;
        while (const auto next = shares.next()) {
            // None while a sample is left to start.
            EXPECT_EQ(shares.more(), 0U);
            held.push_back(next->threads);
        }
        shares.give_back(held[c.finishing]);
        std::vector<std::size_t> got;
        for (std::size_t i = 0; i + 1 < held.size(); ++i) {
            got.push_back(shares.more());
        }
        EXPECT_EQ(got, c.more) << c.threads << " threads, " << c.samples << " samples";
        EXPECT_EQ(shares.more(), 0U) << "all given out";
    }
}
