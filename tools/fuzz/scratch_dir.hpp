#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fuzz {

// A private directory, on tmpfs where there is one, whose files the targets
// rewrite for every input; removed with its files when the process exits.
class ScratchDir {
public:
    ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir();

    std::string path(std::string_view name) const;
    // Replaces the file's content; a failure is a finding of the harness.
    void write(std::string_view name, std::span<const std::uint8_t> bytes) const;

private:
    std::string dir_;
};

}  // namespace fuzz
