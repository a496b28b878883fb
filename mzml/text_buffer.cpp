#include "text_buffer.hpp"

#include <algorithm>
#include <cstring>

#include "mzml/base64.hpp"

namespace mzml {

void TextBuffer::reserve(std::size_t n)
{
    if (capacity_ - used_ >= n) {
        return;
    }
    auto grown = std::make_unique_for_overwrite<char[]>(used_ + n);
    if (used_ != 0) {
        std::memcpy(grown.get(), bytes_.get(), used_);
    }
    bytes_ = std::move(grown);
    capacity_ = used_ + n;
}

char* TextBuffer::room(std::size_t n)
{
    if (capacity_ - used_ < n) {
        // By half at least: a buffer reused for every spectrum settles at the largest.
        reserve(std::max(n, capacity_ + capacity_ / 2 - used_));
    }
    return bytes_.get() + used_;
}

void TextBuffer::put(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    std::memcpy(room(text.size()), text.data(), text.size());
    used_ += text.size();
}

void TextBuffer::put_base64(std::span<const std::byte> bytes)
{
    const std::size_t length = base64_length(bytes.size());
    base64_encode(bytes, room(length));
    used_ += length;
}

}  // namespace mzml
