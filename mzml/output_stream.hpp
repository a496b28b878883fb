#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mzml/writer.hpp"
#include "write_behind.hpp"

namespace mzml {

// The document's bytes on their way to the sink: gathered into large writes,
// counted, and hashed until the checksum is taken. Hashing and writing happen
// behind, on other threads. Every write but the last before the checksum and
// the last of all is a full buffer, so where the writes split the document
// depends on its bytes alone, not on how they were put. The first failed
// write is kept and every later byte is dropped, so callers check once per step.
class OutputStream {
public:
    OutputStream(ByteSink& sink, std::size_t capacity);

    // See WriteBehind::before_first_hash; before the first put.
    void before_first_hash(WriteBehind::FirstStep step, std::size_t spare)
    {
        behind_.before_first_hash(std::move(step), spare);
    }

    void put(std::string_view text);
    void put_base64(std::span<const std::byte> bytes);
    // At least n contiguous bytes to fill, then advance by what was filled.
    char* room(std::size_t n);
    void advance(std::size_t n);

    // Offset of the next byte in the document.
    std::uint64_t position() const { return flushed_ + used_; }
    // Every byte so far has reached the sink (or a write failed) on return.
    void flush();
    // SHA-1 of every byte so far; later bytes are not hashed.
    std::string take_checksum();
    int error() const { return behind_.error(); }

private:
    std::size_t room_left() const { return buffer_.size() - used_; }
    void hand_over();

    WriteBehind behind_;
    std::span<char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
    bool hashing_ = true;
    // What room() gave when the buffer had too little left: put() after it.
    std::vector<char> spill_;
    bool spilling_ = false;
};

}  // namespace mzml
