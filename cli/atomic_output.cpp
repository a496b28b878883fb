#include "atomic_output.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "output_cleanup.hpp"
#include "test_hooks.hpp"

namespace convert {
namespace {

// umask can only be read by setting it: done once, before any thread runs.
const mode_t output_mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}();

std::size_t name_start(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

std::string directory_of(const std::string& path)
{
    const std::size_t start = name_start(path);
    return start == 0 ? "." : start == 1 ? "/" : path.substr(0, start - 1);
}

std::string hidden_pattern(const std::string& final_path)
{
    const std::size_t start = name_start(final_path);
    return final_path.substr(0, start) + "." + final_path.substr(start) + ".XXXXXX";
}

// What an open with O_TMPFILE fails with where the file system, or the
// kernel, has no unnamed files.
bool refuses_unnamed(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// Fills the trailing XXXXXX of `pattern` as mkstemp would; 0 or the errno.
int fill_random(char* pattern)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
        return errno;
    }
    char* x = pattern + std::strlen(pattern) - sizeof random;
    for (const unsigned char byte : random) {
        *x++ = letters[byte % (sizeof letters - 1)];
    }
    return 0;
}

}  // namespace

AtomicOutput::AtomicOutput(std::size_t slot, std::string final_path, tarvok::UniqueFd directory)
    : slot_(slot), final_path_(std::move(final_path)), directory_(std::move(directory))
{
}

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept
    : slot_(other.slot_),
      final_path_(std::move(other.final_path_)),
      directory_(std::move(other.directory_)),
      file_(std::move(other.file_)),
      hidden_path_(std::exchange(other.hidden_path_, {})),
      committed_(std::exchange(other.committed_, true))
{
}

AtomicOutput::~AtomicOutput()
{
    // An unnamed file goes with its last descriptor.
    if (!committed_ && !hidden_path_.empty()) {
        ::unlink(hidden_path_.c_str());
        release_named(slot_);
    }
}

std::expected<AtomicOutput, int> AtomicOutput::create(std::size_t slot, const std::string& final_path)
{
    tarvok::UniqueFd directory(::open(directory_of(final_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return std::unexpected(errno);
    }
    AtomicOutput output(slot, final_path, std::move(directory));
    if (!test_fault("no-tmpfile")) {
        output.file_.reset(::openat(output.directory_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (output.file_) {
            return output;
        }
        if (!refuses_unnamed(errno)) {
            return std::unexpected(errno);
        }
    }
    int fd = -1;
    const int error = create_named(slot, hidden_pattern(final_path), [&](char* path) {
        fd = ::mkostemp(path, O_CLOEXEC);
        if (fd < 0) {
            return errno;
        }
        output.hidden_path_ = path;
        return 0;
    });
    if (error != 0) {
        return std::unexpected(error);
    }
    output.file_.reset(fd);
    return output;
}

std::expected<void, int> AtomicOutput::link_unnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    const std::string name = final_path_.substr(name_start(final_path_));
    if (::linkat(AT_FDCWD, self.c_str(), directory_.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return {};
    }
    if (errno != EEXIST) {
        return std::unexpected(errno);
    }
    // linkat never replaces a file: take a hidden name, then rename over.
    const int error = create_named(slot_, hidden_pattern(final_path_), [&](char* path) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (const int error = fill_random(path); error != 0) {
                return error;
            }
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
                hidden_path_ = path;
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    });
    if (error != 0) {
        return std::unexpected(error);
    }
    return {};
}

std::expected<void, int> AtomicOutput::commit()
{
    const bool sync = !test_fault("no-sync");
    // Both creations give 0600, which would keep the output from its readers.
    if (::fchmod(file_.get(), output_mode) != 0) {
        return std::unexpected(errno);
    }
    // Synced before it has its name, so that a crash can never leave a
    // complete-looking file without its content.
    if (sync && ::fsync(file_.get()) != 0) {
        return std::unexpected(errno);
    }
    if (hidden_path_.empty()) {
        if (auto linked = link_unnamed(); !linked) {
            return linked;
        }
    }
    if (!hidden_path_.empty()) {
        if (::rename(hidden_path_.c_str(), final_path_.c_str()) != 0) {
            return std::unexpected(errno);
        }
        release_named(slot_);
        hidden_path_.clear();
    }
    committed_ = true;
    file_.reset();
    if (sync && ::fsync(directory_.get()) != 0) {
        return std::unexpected(errno);
    }
    return {};
}

}  // namespace convert
