#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "tarvok/error.hpp"

namespace tarvok::raw {

// Offset of a block's payload behind its header; the read window of a block
// is shifted by it at both ends.
inline constexpr std::uint64_t block_header_size = 56;

// The bytes one read of a block's window delivered.
class WindowBytes {
public:
    WindowBytes() = default;
    WindowBytes(std::unique_ptr<std::uint8_t[]> data, std::size_t size) : data_(std::move(data)), size_(size) {}

    std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

// One open, one absolute seek, one read request and one close. An empty
// window is answered without touching the file.
std::expected<WindowBytes, Error> read_window(const std::string& scan_path, std::uint64_t start_offset,
                                              std::uint64_t end_offset);

// Bytes in front of the first run of four 0xFF bytes, or all of them.
std::size_t payload_length(std::span<const std::uint8_t> bytes);

}  // namespace tarvok::raw
