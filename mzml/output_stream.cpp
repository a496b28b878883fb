#include "output_stream.hpp"

#include <algorithm>
#include <cstring>

#include "mzml/base64.hpp"

namespace mzml {

// Two buffers would do if both threads kept pace; the spare ones absorb the
// unevenness of spectra and of the sink, and carry the texts passed through.
constexpr std::size_t buffer_count = 8;

OutputStream::OutputStream(ByteSink& sink, std::size_t capacity)
    : behind_(sink, buffer_count), capacity_(capacity), buffer_(&behind_.first())
{
    buffer_->reserve(capacity_);
}

void OutputStream::hand_over()
{
    flushed_ += used();
    buffer_ = &behind_.hand_over(hashing_);
    // Storage that came through pass_through may be smaller.
    buffer_->reserve(capacity_);
}

void OutputStream::pass_through(TextBuffer& text)
{
    if (used() > 0) {
        hand_over();
    }
    flushed_ += text.text().size();
    behind_.pass_through(text, hashing_);
}

void OutputStream::flush()
{
    hand_over();
    behind_.drain();
}

char* OutputStream::room(std::size_t n)
{
    if (room_left() >= n) {
        return buffer_->room(n);
    }
    spill_.resize(std::max(spill_.size(), n));
    spilling_ = true;
    return spill_.data();
}

void OutputStream::advance(std::size_t n)
{
    if (!spilling_) {
        buffer_->advance(n);
        return;
    }
    spilling_ = false;
    put(std::string_view(spill_.data(), n));
}

void OutputStream::put(std::string_view text)
{
    while (!text.empty()) {
        if (room_left() == 0) {
            hand_over();
        }
        const std::size_t take = std::min(text.size(), room_left());
        buffer_->put(text.substr(0, take));
        text.remove_prefix(take);
    }
}

void OutputStream::put_base64(std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        if (room_left() < 4) {
            // The group across the buffer's end goes whole through put().
            const std::size_t take = std::min<std::size_t>(bytes.size(), 3);
            char group[4];
            base64_encode(bytes.first(take), group);
            put(std::string_view(group, base64_length(take)));
            bytes = bytes.subspan(take);
            continue;
        }
        // Whole 3-byte groups until the last piece, so padding comes only at the end.
        const std::size_t take = std::min(bytes.size(), room_left() / 4 * 3);
        buffer_->put_base64(bytes.first(take));
        bytes = bytes.subspan(take);
    }
}

std::string OutputStream::take_checksum()
{
    // Every byte before the digest's own is hashed before the digest is taken.
    flush();
    hashing_ = false;
    return behind_.hex_digest();
}

}  // namespace mzml
