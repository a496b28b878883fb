#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "opcode_rules.hpp"

// What the vector kernels share: the payload goes in chunks of 64 bytes. A
// chunk's bytes are opcodes or operands; which is which follows from the
// multi-byte opcodes alone, so the one-byte opcodes of a chunk are decoded all
// at once.
namespace tarvok::raw {

inline constexpr std::size_t chunk = 64;
// A chunk needs the 4 bytes behind it for the operands of its last opcodes.
inline constexpr std::size_t chunk_reach = chunk + 4;

struct ChunkPlan {
    std::uint64_t operands = 0;  // operand bytes, those of the previous chunk's last opcode included
    std::uint64_t spill = 0;     // operand bytes of this chunk's last opcode in the next chunk
    std::uint64_t limit = 0;     // bytes to decode; the rest lie past the input or the stop
    bool stop = false;
};

// A chunk's bytes at or above FC, FD, FE and FF, the operand bytes carried
// in from the previous chunk left out.
struct LongBytes {
    std::uint64_t longs;
    std::uint64_t two;
    std::uint64_t three;
    std::uint64_t four;
};

// One multi-byte opcode after the other: needed where an operand byte looks
// like an opcode, and where an operand may run past the input.
inline ChunkPlan walk_long_opcodes(const std::uint8_t* b, std::size_t n, std::size_t base, std::uint64_t longs,
                                   std::uint64_t carried, std::uint64_t valid)
{
    ChunkPlan plan{carried, 0, valid, false};
    std::uint64_t pending = longs & ~carried;
    while (pending != 0) {
        const auto j = static_cast<unsigned>(std::countr_zero(pending));
        if (stops_before(b, n, base + j)) {
            plan.limit = valid & ((std::uint64_t{1} << j) - 1);
            plan.stop = true;
            return plan;
        }
        const auto operand = static_cast<unsigned __int128>((1U << operand_length(b[base + j])) - 1U) << (j + 1);
        plan.operands |= static_cast<std::uint64_t>(operand);
        plan.spill |= static_cast<std::uint64_t>(operand >> 64U);
        pending &= pending - 1;
        pending &= ~plan.operands;
    }
    return plan;
}

// The operand bytes of the given long opcodes inside the chunk, and those
// that run into the next one.
inline std::uint64_t operands_of(const LongBytes& m)
{
    return m.longs << 1U | m.two << 2U | m.three << 3U | m.four << 4U;
}

inline std::uint64_t spill_of(const LongBytes& m)
{
    return m.longs >> 63U | m.two >> 62U | m.three >> 61U | m.four >> 60U;
}

// A chunk where long bytes lie inside the operands of others. A long byte
// inside no operand of a possible opcode is an opcode, and the long bytes
// inside its operand are not: each round settles at least the first unsettled
// byte. The walk takes over from long chains, end markers and the end of the
// input. Kept out of line, so that the rare case leaves the vector loops their
// registers.
[[gnu::noinline]] inline ChunkPlan settle_long_opcodes(const std::uint8_t* b, std::size_t n, std::size_t i,
                                                       const LongBytes& m, std::uint64_t carried, std::uint64_t valid,
                                                       bool inside)
{
    if (inside) {
        const auto only = [&m](std::uint64_t keep) {
            return LongBytes{m.longs & keep, m.two & keep, m.three & keep, m.four & keep};
        };
        std::uint64_t opcodes = m.longs & ~operands_of(m);
        std::uint64_t operands = operands_of(only(opcodes));
        while ((opcodes | (m.longs & operands)) != m.longs) {
            opcodes = m.longs & ~operands_of(only(m.longs & ~operands));
            operands = operands_of(only(opcodes));
        }
        const std::uint64_t ff_opcodes = m.four & opcodes;
        const bool marker_risk = (ff_opcodes & m.four >> 1U & m.four >> 2U & m.four >> 3U) != 0 ||
                                 ((ff_opcodes >> 61U) != 0 && b[i + chunk] == layout::end_marker_byte);
        if ((opcodes | (m.longs & operands)) == m.longs && !marker_risk) {
            return {carried | operands, spill_of(only(opcodes)), valid, false};
        }
    }
    return walk_long_opcodes(b, n, i, m.longs, carried, valid);
}

// The chunk at `i`; `inside` when no operand of its opcodes can reach the end
// of the input.
inline ChunkPlan plan_chunk(const std::uint8_t* b, std::size_t n, std::size_t i, const LongBytes& m,
                            std::uint64_t carried, std::uint64_t valid, bool inside)
{
    if (m.longs == 0 && inside) {
        return {carried, 0, valid, false};
    }
    // With no long opcode inside an operand, every long byte is an opcode.
    const std::uint64_t operands = operands_of(m);
    const bool marker_risk = inside && (m.four >> 63U) != 0 && b[i + chunk] == layout::end_marker_byte;
    if (inside && (operands & m.longs) == 0 && !marker_risk) {
        return {carried | operands, spill_of(m), valid, false};
    }
    return settle_long_opcodes(b, n, i, m, carried, valid, inside);
}

struct ChunkMasks {
    std::uint64_t points;
    std::uint64_t deltas;
    std::uint64_t longs;
};

inline ChunkMasks chunk_masks(std::uint64_t high, std::uint64_t longs, const ChunkPlan& plan)
{
    const std::uint64_t opcodes = ~plan.operands & plan.limit;
    return {high & opcodes, ~high & opcodes, longs & opcodes};
}

}  // namespace tarvok::raw
