#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sample_writer/sample_writer.hpp"

// Reads payloads back straight from the opcode table, independently of the
// writer's encoder and of the reader library.
namespace sample_writer::testing {

struct DecodedPayload {
    std::vector<Point> points;
    bool well_formed = true;  // every opcode complete, no end marker inside
};

inline DecodedPayload decode_opcodes(std::span<const std::uint8_t> bytes) {
    DecodedPayload decoded;
    std::uint32_t position = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t opcode = bytes[i];
        if (opcode <= 0x7F) {
            position += opcode;
            ++i;
            continue;
        }
        if (opcode <= 0xFB) {
            decoded.points.push_back({position, opcode - 0x80U});
            ++i;
            continue;
        }
        const std::size_t operand_bytes = opcode - 0xFBU;
        if (i + operand_bytes >= bytes.size() ||
            (opcode == 0xFF && bytes[i + 1] == 0xFF && bytes[i + 2] == 0xFF && bytes[i + 3] == 0xFF)) {
            decoded.well_formed = false;
            return decoded;
        }
        std::uint32_t intensity = 0;
        for (std::size_t k = 0; k < operand_bytes; ++k) {
            intensity |= std::uint32_t{bytes[i + 1 + k]} << (8 * k);
        }
        decoded.points.push_back({position, intensity});
        i += 1 + operand_bytes;
    }
    return decoded;
}

}  // namespace sample_writer::testing
