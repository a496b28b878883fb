#pragma once

#include <expected>
#include <span>

#include "mzml/writer.hpp"

namespace mzml {

// Writes to a file descriptor it does not own: the caller opens, syncs,
// renames and closes.
class FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}

    // Retries short writes and EINTR; any other failure returns its errno.
    std::expected<void, int> write(std::span<const char> bytes) override;

private:
    int fd_;
};

}  // namespace mzml
