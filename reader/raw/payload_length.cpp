#include <bit>
#include <cstring>

#include "opcode_rules.hpp"
#include "payload_kernels.hpp"

namespace tarvok::raw {

std::size_t payload_length(std::span<const std::uint8_t> delivered)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    const std::uint8_t* b = delivered.data();
    const std::size_t n = delivered.size();
    std::size_t i = 0;
    while (i < n) {
        // Eight bytes at a time up to the next FF: a usual payload has few.
        if (i + 8 <= n) {
            std::uint64_t word = 0;
            std::memcpy(&word, b + i, sizeof word);
            if constexpr (std::endian::native == std::endian::big) {
                word = std::byteswap(word);
            }
            // The lowest byte flagged is an FF; those above it may not be.
            const std::uint64_t ff_bytes = (~word - ones) & word & (ones << 7U);
            if (ff_bytes == 0) {
                i += 8;
                continue;
            }
            i += static_cast<std::size_t>(std::countr_zero(ff_bytes)) / 8;
        } else if (b[i] != layout::end_marker_byte) {
            ++i;
            continue;
        }
        if (end_marker_at(b, n, i)) {
            return i;
        }
        ++i;
    }
    return n;
}

}  // namespace tarvok::raw
