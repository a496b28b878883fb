#include "output_stream.hpp"

#include <cstring>

#include "mzml/base64.hpp"

namespace mzml {

OutputStream::OutputStream(ByteSink& sink, std::size_t capacity) : sink_(&sink), buffer_(capacity) {}

void OutputStream::flush()
{
    const std::span<const char> bytes(buffer_.data(), used_);
    if (error_ == 0 && !bytes.empty()) {
        if (hashing_) {
            sha1_.update(bytes);
        }
        if (auto written = sink_->write(bytes); !written) {
            error_ = written.error();
        }
    }
    flushed_ += used_;
    used_ = 0;
}

char* OutputStream::room(std::size_t n)
{
    if (room_left() < n) {
        flush();
    }
    return buffer_.data() + used_;
}

void OutputStream::put(std::string_view text)
{
    while (!text.empty()) {
        if (room_left() == 0) {
            flush();
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
            flush();
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
    flush();
    hashing_ = false;
    return sha1_.hex_digest();
}

}  // namespace mzml
