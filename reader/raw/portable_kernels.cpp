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

// A byte is a long opcode when it has every bit of the first one set.
bool holds_long_opcode(std::uint64_t word)
{
    const std::uint64_t missing = ~word & every_byte(first_long_opcode);
    return ((missing - every_byte(0x01)) & ~missing & every_byte(0x80)) != 0;
}

struct PointOut {
    ScanPoint* points;

    void put(std::size_t k, std::uint32_t position, std::uint32_t intensity) const
    {
        points[k] = {position, intensity};
    }
    static std::size_t kept_short(std::uint32_t opcode) { return opcode >> 7U; }
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
    static std::size_t kept_short(std::uint32_t opcode) { return opcode > layout::first_short_point_opcode ? 1 : 0; }
    static std::size_t kept_long(std::uint32_t value) { return value != 0 ? 1 : 0; }
};

// A one-byte opcode without a branch: it writes a slot, and only a kept point
// moves the cursor past it.
template <class Out>
inline void short_opcode(const Out& out, std::uint32_t c, std::uint32_t& position, std::size_t& k)
{
    out.put(k, position, c & layout::short_intensity_bits);
    k += Out::kept_short(c);
    position += c & ((c >> 7U) - 1U);
}

template <class Out>
std::size_t decode(std::span<const std::uint8_t> bytes, Out out)
{
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::uint32_t position = 0;
    std::size_t k = 0;
    std::size_t i = 0;
    while (i < n) {
        // Words of one-byte opcodes, the bulk of a payload, in one unrolled step.
        while (i + 8 <= n) {
            const std::uint64_t word = load_word(b + i);
            if (holds_long_opcode(word)) {
                break;
            }
            for (unsigned j = 0; j < 8; ++j) {
                short_opcode(out, static_cast<std::uint32_t>(word >> (8U * j)) & 0xFFU, position, k);
            }
            i += 8;
        }
        // Then opcode by opcode, up to and including the long one.
        const std::size_t word_end = std::min(n, i + 8);
        while (i < word_end) {
            const std::uint8_t c = b[i];
            if (c < first_long_opcode) {
                short_opcode(out, c, position, k);
                ++i;
                continue;
            }
            if (stops_before(b, n, i)) {
                return k;
            }
            const unsigned length = operand_length(c);
            const std::uint32_t value = operand_value(b + i + 1, length);
            out.put(k, position, value);
            k += Out::kept_long(value);
            i += 1 + length;
            break;
        }
    }
    return k;
}

std::size_t points(std::span<const std::uint8_t> payload, ScanPoint* out)
{
    return decode(payload, PointOut{out});
}

std::size_t peaks(std::span<const std::uint8_t> payload, double* mz, float* intensity)
{
    return decode(payload, PeakOut{mz, intensity});
}

constexpr PayloadKernels portable{"portable", points, peaks};

}  // namespace

const PayloadKernels& portable_kernels()
{
    return portable;
}

}  // namespace tarvok::raw
