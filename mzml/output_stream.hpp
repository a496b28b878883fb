#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mzml/writer.hpp"
#include "write_behind.hpp"

namespace mzml {

// The document's bytes on their way to the sink: gathered into large writes,
// counted, and hashed until the checksum is taken. Hashing and writing happen
// behind, on other threads. What put() gathers goes out in full buffers, but
// for the last before the checksum, the last of all and the last before text
// passed through, which is a write of its own: where the writes split the
// document depends on its bytes and the texts passed, not on timing. The
// first failed write is kept and every later byte is dropped, so callers
// check once per step.
class OutputStream {
public:
    OutputStream(ByteSink& sink, std::size_t capacity);

    void put(std::string_view text);
    void put_base64(std::span<const std::byte> bytes);
    // The text itself goes out, after what was put before; it comes back
    // empty, with other storage to fill.
    void pass_through(TextBuffer& text);
    // At least n contiguous bytes to fill, then advance by what was filled.
    char* room(std::size_t n);
    void advance(std::size_t n);

    // Offset of the next byte in the document.
    std::uint64_t position() const { return flushed_ + used(); }
    // Every byte so far has reached the sink (or a write failed) on return.
    void flush();
    // SHA-1 of every byte so far; later bytes are not hashed.
    std::string take_checksum();
    int error() const { return behind_.error(); }

private:
    std::size_t used() const { return buffer_->text().size(); }
    std::size_t room_left() const { return capacity_ - used(); }
    void hand_over();

    WriteBehind behind_;
    std::size_t capacity_;
    TextBuffer* buffer_;  // never filled beyond capacity_
    std::uint64_t flushed_ = 0;
    bool hashing_ = true;
    // What room() gave when the buffer had too little left: put() after it.
    std::vector<char> spill_;
    bool spilling_ = false;
};

}  // namespace mzml
