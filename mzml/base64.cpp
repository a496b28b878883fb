#include "mzml/base64.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace mzml {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters per 12 input bits: one lookup per half of a 3-byte group.
struct PairTable {
    std::array<std::array<char, 2>, 4096> pairs{};
    constexpr PairTable()
    {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            pairs[i] = {alphabet[i >> 6], alphabet[i & 63]};
        }
    }
};
constexpr PairTable table;

inline void put_pair(char* out, std::uint32_t twelve_bits)
{
    std::memcpy(out, table.pairs[twelve_bits].data(), 2);
}

inline std::uint64_t load_big_endian_64(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

}  // namespace

void base64_encode(std::span<const std::byte> bytes, char* out)
{
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    // Six bytes per step from an 8-byte load; the last two bytes are read again next step.
    while (left >= 8) {
        const std::uint64_t v = load_big_endian_64(in);
        put_pair(out, static_cast<std::uint32_t>(v >> 52));
        put_pair(out + 2, static_cast<std::uint32_t>(v >> 40) & 0xFFF);
        put_pair(out + 4, static_cast<std::uint32_t>(v >> 28) & 0xFFF);
        put_pair(out + 6, static_cast<std::uint32_t>(v >> 16) & 0xFFF);
        in += 6;
        out += 8;
        left -= 6;
    }
    while (left >= 3) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        put_pair(out, v >> 12);
        put_pair(out + 2, v & 0xFFF);
        in += 3;
        out += 4;
        left -= 3;
    }
    if (left == 0) {
        return;
    }
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (left == 2 ? std::uint32_t{in[1]} << 8 : 0);
    put_pair(out, v >> 12);
    out[2] = left == 2 ? alphabet[(v >> 6) & 63] : '=';
    out[3] = '=';
}

}  // namespace mzml
