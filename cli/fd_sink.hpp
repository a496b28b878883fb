#pragma once

#include <atomic>
#include <expected>
#include <span>

#include "mzml/writer.hpp"
#include "write_all.hpp"

namespace convert {

// The mzML writer's sink over a descriptor someone else owns. Remembers
// whether a write failed, so that the writer's own refusals can be told
// from the system's.
class FdSink final : public mzml::ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}

    std::expected<void, int> write(std::span<const char> bytes) override
    {
        auto written = tarvok::write_all(fd_, bytes);
        if (!written) {
            failed_.store(true, std::memory_order_relaxed);
        }
        return written;
    }

    bool failed() const { return failed_.load(std::memory_order_relaxed); }

private:
    int fd_;
    std::atomic<bool> failed_ = false;
};

}  // namespace convert
