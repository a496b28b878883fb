#include "sha1.hpp"

#include <glib.h>

#include <cstring>

namespace mzml {

void Sha1::GChecksumFree::operator()(GChecksum* checksum) const { g_checksum_free(checksum); }

bool Sha1::hardware()
{
    static const bool available = sha1_x86_available();
    return available;
}

Sha1::Sha1()
{
    if (!hardware()) {
        library_.reset(g_checksum_new(G_CHECKSUM_SHA1));
    }
}

void Sha1::compress(const unsigned char* blocks, std::size_t count) { sha1_compress_x86(state_.data(), blocks, count); }

void Sha1::update(std::span<const char> bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (library_) {
        // GLib takes a signed length.
        while (n > 0) {
            const std::size_t step = n < (std::size_t{1} << 30) ? n : (std::size_t{1} << 30);
            g_checksum_update(library_.get(), p, static_cast<gssize>(step));
            p += step;
            n -= step;
        }
        return;
    }
    total_ += n;
    if (pending_size_ > 0) {
        const std::size_t take = n < 64 - pending_size_ ? n : 64 - pending_size_;
        std::memcpy(pending_.data() + pending_size_, p, take);
        pending_size_ += take;
        p += take;
        n -= take;
        if (pending_size_ < 64) {
            return;
        }
        compress(pending_.data(), 1);
        pending_size_ = 0;
    }
    compress(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
    std::memcpy(pending_.data(), p, n);
    pending_size_ = n;
}

std::string Sha1::hex_digest()
{
    if (library_) {
        return g_checksum_get_string(library_.get());
    }
    const std::uint64_t bits = total_ * 8;
    unsigned char tail[128] = {};
    std::memcpy(tail, pending_.data(), pending_size_);
    tail[pending_size_] = 0x80;
    const std::size_t tail_size = pending_size_ < 56 ? 64 : 128;
    for (int i = 0; i < 8; ++i) {
        tail[tail_size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    compress(tail, tail_size / 64);
    static constexpr char hex[] = "0123456789abcdef";
    std::string digest;
    digest.reserve(40);
    for (const std::uint32_t word : state_) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            digest += hex[(word >> shift) & 15];
        }
    }
    return digest;
}

}  // namespace mzml
