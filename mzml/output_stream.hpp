#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mzml/writer.hpp"
#include "sha1.hpp"

namespace mzml {

// The document's bytes on their way to the sink: gathered into large writes,
// counted, and hashed until the checksum is taken. The first failed write is
// kept and every later byte is dropped, so callers check once per step.
class OutputStream {
public:
    OutputStream(ByteSink& sink, std::size_t capacity);

    void put(std::string_view text);
    void put_base64(std::span<const std::byte> bytes);
    // At least n contiguous bytes to fill (n at most the capacity), then
    // advance by what was filled.
    char* room(std::size_t n);
    void advance(std::size_t n) { used_ += n; }

    // Offset of the next byte in the document.
    std::uint64_t position() const { return flushed_ + used_; }
    void flush();
    // SHA-1 of every byte so far; later bytes are not hashed.
    std::string take_checksum();
    int error() const { return error_; }

private:
    std::size_t room_left() const { return buffer_.size() - used_; }

    ByteSink* sink_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
    Sha1 sha1_;
    bool hashing_ = true;
    int error_ = 0;
};

}  // namespace mzml
