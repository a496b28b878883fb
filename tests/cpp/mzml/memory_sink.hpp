#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "mzml/writer.hpp"

namespace mzml_tests {

// Keeps what is written; a write that would take it past `fail_after` bytes
// fails with ENOSPC, as a full disk does.
class MemorySink final : public mzml::ByteSink {
public:
    explicit MemorySink(std::size_t fail_after = SIZE_MAX) : fail_after_(fail_after) {}
    std::expected<void, int> write(std::span<const char> bytes) override
    {
        ++calls;
        if (text.size() + bytes.size() > fail_after_) {
            return std::unexpected(ENOSPC);
        }
        text.append(bytes.data(), bytes.size());
        return {};
    }
    std::string text;
    int calls = 0;

private:
    std::size_t fail_after_;
};

}  // namespace mzml_tests
