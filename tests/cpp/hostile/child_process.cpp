#include "child_process.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <new>
#include <thread>

#include "asan_build.hpp"
#include "heap_cap.hpp"

#ifdef HOSTILE_UNDER_ASAN
#include <sanitizer/lsan_interface.h>
#endif

namespace hostile {
namespace {

constexpr std::size_t failure_text_limit = 4096;

std::string read_all(int fd)
{
    std::string text;
    char chunk[4096];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
}

[[noreturn]] void run_body(const std::function<std::string()>& body, const ChildLimits& limits, int stderr_fd,
                           int failure_fd)
{
    ::dup2(stderr_fd, 2);
    cap_heap(limits.heap_bytes);
    std::string failure;
    try {
        failure = body();
    } catch (const std::bad_alloc&) {
        failure = "an allocation failed under the heap cap";
    }
    if (failure.empty()) {
        failure = heap_cap_verdict();
    }
#ifdef HOSTILE_UNDER_ASAN
    // The child ends with _exit, which skips the leak check at exit.
    if (failure.empty() && __lsan_do_recoverable_leak_check() != 0) {
        failure = "memory leaked (the report is on stderr)";
    }
#endif
    failure.resize(std::min(failure.size(), failure_text_limit));
    const ssize_t written = ::write(failure_fd, failure.data(), failure.size());
    ::_exit(written == static_cast<ssize_t>(failure.size()) && failure.empty() ? 0 : 1);
}

}  // namespace

ChildReport run_in_child(const std::function<std::string()>& body, const ChildLimits& limits)
{
    ChildReport report;
    char stderr_name[] = "/tmp/tarvok-hostile-stderr-XXXXXX";
    const int stderr_fd = ::mkstemp(stderr_name);
    int failure_pipe[2] = {-1, -1};
    if (stderr_fd < 0 || ::pipe2(failure_pipe, O_CLOEXEC) != 0) {
        report.failure = "cannot set up the child";
        return report;
    }
    ::unlink(stderr_name);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(failure_pipe[0]);
        run_body(body, limits, stderr_fd, failure_pipe[1]);
    }
    ::close(failure_pipe[1]);

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limits.time;
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            report.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!report.timed_out) {
        report.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        report.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    report.failure = read_all(failure_pipe[0]);
    ::close(failure_pipe[0]);
    ::lseek(stderr_fd, 0, SEEK_SET);
    report.stderr_text = read_all(stderr_fd);
    ::close(stderr_fd);
    return report;
}

std::string describe(const ChildReport& report)
{
    std::string text;
    if (report.timed_out) {
        text += "timed out; ";
    } else if (report.signal != 0) {
        text += "killed by signal " + std::to_string(report.signal) + "; ";
    } else {
        text += "exit code " + std::to_string(report.exit_code) + "; ";
    }
    if (!report.failure.empty()) {
        text += "failure: " + report.failure + "; ";
    }
    if (!report.stderr_text.empty()) {
        text += "stderr: " + report.stderr_text.substr(0, 2000);
    }
    return text;
}

}  // namespace hostile
