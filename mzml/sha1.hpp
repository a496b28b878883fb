#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

typedef struct _GChecksum GChecksum;

namespace mzml {

// SHA-1 with the x86 SHA instructions where the processor has them (several
// times GLib's speed, and every output byte of a document passes through
// here), else GLib's checksum.
class Sha1 {
public:
    Sha1();
    void update(std::span<const char> bytes);
    // 40 lower-case hexadecimal digits; call once, after the last update.
    std::string hex_digest();

    // Whether update uses the SHA instructions, for tests and benchmarks.
    static bool hardware();

private:
    struct GChecksumFree {
        void operator()(GChecksum* checksum) const;
    };
    void compress(const unsigned char* blocks, std::size_t count);

    std::unique_ptr<GChecksum, GChecksumFree> library_;
    std::array<std::uint32_t, 5> state_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::array<unsigned char, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t total_ = 0;
};

// The SHA-instruction compression of whole 64-byte blocks.
void sha1_compress_x86(std::uint32_t state[5], const unsigned char* blocks, std::size_t count);
bool sha1_x86_available();

}  // namespace mzml
