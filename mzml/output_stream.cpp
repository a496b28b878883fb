#include "output_stream.hpp"

#include <algorithm>
#include <cstring>

#include "mzml/base64.hpp"

namespace mzml {

// Two buffers would do if both threads kept pace; the spare ones absorb the
// unevenness of spectra and of the sink.
constexpr std::size_t buffer_count = 4;

OutputStream::OutputStream(ByteSink& sink, std::size_t capacity)
    : behind_(sink, capacity, buffer_count), buffer_(behind_.first())
{
}

void OutputStream::hand_over()
{
    buffer_ = behind_.hand_over(used_, hashing_);
    flushed_ += used_;
    used_ = 0;
}

void OutputStream::flush()
{
    hand_over();
    behind_.drain();
}

char* OutputStream::room(std::size_t n)
{
    if (room_left() >= n) {
        return buffer_.data() + used_;
    }
    spill_.resize(std::max(spill_.size(), n));
    spilling_ = true;
    return spill_.data();
}

void OutputStream::advance(std::size_t n)
{
    if (!spilling_) {
        used_ += n;
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
        const std::size_t take = text.size() < room_left() ? text.size() : room_left();
        std::memcpy(buffer_.data() + used_, text.data(), take);
        used_ += take;
        text.remove_prefix(take);
    }
}

void OutputStream::put_base64(std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        if (room_left() < 4) {
            // The group across the buffer's end goes whole through put().
            const std::size_t take = bytes.size() < 3 ? bytes.size() : 3;
            char group[4];
            base64_encode(bytes.first(take), group);
            put(std::string_view(group, base64_length(take)));
            bytes = bytes.subspan(take);
            continue;
        }
        // Whole 3-byte groups until the last piece, so padding comes only at the end.
        const std::size_t fits = room_left() / 4 * 3;
        const std::size_t take = bytes.size() < fits ? bytes.size() : fits;
        base64_encode(bytes.first(take), buffer_.data() + used_);
        used_ += base64_length(take);
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
