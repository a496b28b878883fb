#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "mzml/fd_sink.hpp"

namespace {

// More than a pipe holds, so the sink must wait for the reader and go on.
TEST(FdSink, WritesEverythingThroughAPipe)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string data(3'000'000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 131 + (i >> 11));
    }
    std::string received;
    std::thread reader([&] {
        char buffer[7000];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
    mzml::FdSink sink(fds[1]);
    const auto written = sink.write(data);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(received, data);
}

TEST(FdSink, ReturnsTheErrno)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    EXPECT_EQ(mzml::FdSink(full).write(std::string_view("abc")).error(), ENOSPC);
    ::close(full);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(mzml::FdSink(fds[1]).write(std::string_view("abc")).error(), EPIPE);
    std::signal(SIGPIPE, old);
    ::close(fds[1]);

    EXPECT_EQ(mzml::FdSink(-1).write(std::string_view("abc")).error(), EBADF);
}

TEST(FdSink, NothingToWriteIsNoCall)
{
    EXPECT_TRUE(mzml::FdSink(-1).write({}).has_value());
}

}  // namespace
