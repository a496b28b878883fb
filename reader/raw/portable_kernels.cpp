#include <bit>
#include <cstring>

#include "opcode_rules.hpp"
#include "payload_kernels.hpp"

namespace tarvok::raw {
namespace {

constexpr std::uint64_t every_byte(std::uint8_t value)
{
    return 0x0101010101010101ULL * value;
}

std::uint64_t load_word(const std::uint8_t* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = std::byteswap(word);
    }
    return word;
}

// Not zero exactly when the word holds a zero byte.
std::uint64_t zero_bytes(std::uint64_t word)
{
    return (word - every_byte(0x01)) & ~word & every_byte(0x80);
}

struct PointOut {
    ScanPoint* points;

    void put(std::size_t k, std::uint32_t position, std::uint32_t intensity) const
    {
        points[k] = {position, intensity};
    }
    static std::size_t kept_short(std::uint8_t opcode) { return opcode >> 7U; }
    static std::size_t kept_long(std::uint32_t) { return 1; }
};

struct PeakOut {
    double* mz;
    float* intensity;

    void put(std::size_t k, std::uint32_t position, std::uint32_t value) const
    {
        mz[k] = static_cast<double>(position);
        intensity[k] = static_cast<float>(value);
    }
    static std::size_t kept_short(std::uint8_t opcode) { return opcode > high_bit ? 1 : 0; }
    static std::size_t kept_long(std::uint32_t value) { return value != 0 ? 1 : 0; }
};

// One-byte opcodes go without branches: every byte writes a slot and only
// points move the cursor past it. Long opcodes are the one branch.
template <class Out>
std::size_t decode(std::span<const std::uint8_t> bytes, Out out)
{
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::uint32_t position = 0;
    std::size_t k = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = b[i];
        if (c >= first_long_opcode) [[unlikely]] {
            if (stops_before(b, n, i)) {
                break;
            }
            const unsigned length = operand_length(c);
            const std::uint32_t value = operand_value(b + i + 1, length);
            out.put(k, position, value);
            k += Out::kept_long(value);
            i += 1 + length;
            continue;
        }
        out.put(k, position, c & 0x7FU);
        k += Out::kept_short(c);
        position += c & ((c >> 7U) - 1U);
        ++i;
    }
    return k;
}

std::size_t point_bound(std::span<const std::uint8_t> bytes)
{
    std::size_t bound = 0;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        bound += static_cast<std::size_t>(std::popcount(load_word(bytes.data() + i) & every_byte(high_bit)));
    }
    for (; i < bytes.size(); ++i) {
        bound += bytes[i] >> 7U;
    }
    return bound;
}

PayloadExtent extent(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    PayloadExtent found;
    std::size_t ff_run = 0;
    std::size_t i = 0;
    while (i < n) {
        if (ff_run == 0 && i + 8 <= n) {
            const std::uint64_t word = load_word(b + i);
            if (zero_bytes(~word) == 0) {
                found.point_bound += static_cast<std::size_t>(std::popcount(word & every_byte(high_bit)));
                i += 8;
                continue;
            }
        }
        ff_run = b[i] == 0xFF ? ff_run + 1 : 0;
        found.point_bound += b[i] >> 7U;
        ++i;
        if (ff_run == 4) {
            found.length = i - 4;
            return found;
        }
    }
    found.length = n;
    return found;
}

std::size_t decode_points(std::span<const std::uint8_t> bytes, ScanPoint* points)
{
    return decode(bytes, PointOut{points});
}

std::size_t decode_block_peaks(std::span<const std::uint8_t> window, double* mz, float* intensity)
{
    return decode(window.first(extent(window).length), PeakOut{mz, intensity});
}

constexpr PayloadKernels portable{extent, point_bound, decode_points, decode_block_peaks};

}  // namespace

const PayloadKernels& portable_kernels()
{
    return portable;
}

}  // namespace tarvok::raw
