#pragma once

#include <nettle/sha1.h>

#include <span>
#include <string>

namespace tarvok {

// Streaming SHA-1; nettle picks the processor's SHA instructions at run time
// where there are any.
class Sha1 {
public:
    Sha1() { sha1_init(&context_); }
    void update(std::span<const char> bytes)
    {
        sha1_update(&context_, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    }
    // 40 lower-case hexadecimal digits; call once, after the last update.
    std::string hex_digest()
    {
        std::uint8_t digest[SHA1_DIGEST_SIZE];
        sha1_digest(&context_, sizeof digest, digest);
        static constexpr char digits[] = "0123456789abcdef";
        std::string hex;
        for (const std::uint8_t byte : digest) {
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
        return hex;
    }

private:
    sha1_ctx context_;
};

}  // namespace tarvok
