#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>

#include "write_all.hpp"

namespace {

std::string pattern(std::size_t n)
{
    std::string data(n, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 131 + (i >> 11));
    }
    return data;
}

// More than a pipe holds, so the writer must wait for the reader and go on.
TEST(WriteAll, WritesEverythingThroughAPipe)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string data = pattern(3'000'000);
    std::string received;
    std::thread reader([&] {
        char buffer[7000];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
    const auto written = tarvok::write_all(fds[1], data);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(received, data);
}

// A signal without SA_RESTART ends a write blocked on a full pipe with EINTR,
// or with a short count once some bytes went: neither may lose or repeat one.
TEST(WriteAll, GoesOnWhereSignalsInterruptIt)
{
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const std::string data = pattern(2'000'000);
    std::atomic<bool> done = false;
    std::expected<void, int> written;
    std::thread writer([&] {
        written = tarvok::write_all(fds[1], data);
        done = true;
    });
    std::string received;
    char buffer[4096];
    const auto take = [&](int timeout_ms) {
        pollfd readable{fds[0], POLLIN, 0};
        if (::poll(&readable, 1, timeout_ms) == 1) {
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            received.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
            return n > 0;
        }
        return false;
    };
    // The first signal cuts a write short, the second finds the next one
    // blocked with nothing written.
    while (!done) {
        for (int n = 0; n < 2; ++n) {
            ::pthread_kill(writer.native_handle(), SIGUSR1);
            ::usleep(100);
        }
        take(0);
    }
    writer.join();
    ::close(fds[1]);
    while (take(1000)) {
    }
    ::close(fds[0]);
    ::sigaction(SIGUSR1, &previous, nullptr);
    ASSERT_TRUE(written.has_value()) << "errno " << written.error();
    EXPECT_EQ(received, data);
}

TEST(WriteAll, ReturnsTheErrno)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    EXPECT_EQ(tarvok::write_all(full, std::string_view("abc")).error(), ENOSPC);
    ::close(full);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(tarvok::write_all(fds[1], std::string_view("abc")).error(), EPIPE);
    std::signal(SIGPIPE, old);
    ::close(fds[1]);

    EXPECT_EQ(tarvok::write_all(-1, std::string_view("abc")).error(), EBADF);
}

// A call on the bad descriptor would fail with EBADF.
TEST(WriteAll, NothingToWriteIsNoCall)
{
    EXPECT_TRUE(tarvok::write_all(-1, {}).has_value());
}

}  // namespace
