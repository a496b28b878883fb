#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "tarvok/error.hpp"

namespace tarvok::raw {

// Storage for the bytes of a window read. A buffer made for one read is
// sized to its window; one kept across reads grows to the longest window.
class WindowBuffer {
public:
    std::uint8_t* room(std::size_t length)
    {
        if (length > capacity_) {
            data_ = std::make_unique_for_overwrite<std::uint8_t[]>(length);
            capacity_ = length;
        }
        return data_.get();
    }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
};

// The window [start_offset, end_offset) shifted behind the block header at
// both ends, with one open, one absolute seek, one read request and one close;
// the bytes delivered, which live in `buffer` until its next use. An empty
// window is answered without touching the file.
std::expected<std::span<const std::uint8_t>, Error> read_window(const std::string& scan_path,
                                                                std::uint64_t start_offset,
                                                                std::uint64_t end_offset, WindowBuffer& buffer);

// The same window read through a descriptor the caller keeps open, with
// positioned reads until it is whole or the file ends: a short count is
// followed by another read from where it stopped.
std::expected<std::span<const std::uint8_t>, Error> read_window_at(int fd, std::uint64_t start_offset,
                                                                   std::uint64_t end_offset, WindowBuffer& buffer);

}  // namespace tarvok::raw
