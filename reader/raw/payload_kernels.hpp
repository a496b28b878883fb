#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {

// The delivered bytes of a window in front of their first FF FF FF FF: the
// block's payload. The search looks at raw bytes, not at opcodes.
std::size_t payload_length(std::span<const std::uint8_t> delivered);

// The decoders store whole vectors: an output needs room for this many
// elements beyond the most it can receive.
inline constexpr std::size_t decode_slack = 16;

// One decoder with two outputs. Every set gives identical results; the sets
// differ only in speed and in the instructions they need. Both stop at an end
// marker opcode or in front of an incomplete opcode, and return the count.
struct PayloadKernels {
    const char* name;
    // Every point, zero intensities included; room for the payload's point
    // bound (its bytes with the high bit set) plus the slack.
    std::size_t (*points)(std::span<const std::uint8_t> payload, ScanPoint* points);
    // The points of non-zero intensity as a spectrum's m/z and intensity
    // values; room for the payload's length plus the slack.
    std::size_t (*peaks)(std::span<const std::uint8_t> payload, double* mz, float* intensity);
};

const PayloadKernels& portable_kernels();
// Null where the processor lacks AVX-512 (F, BW, VL, DQ, VBMI, VBMI2) or the build
// is not for x86-64.
const PayloadKernels* avx512_kernels();
// Null where the processor lacks AVX2 and BMI2, or the build is not for x86-64.
const PayloadKernels* avx2_kernels();
// The set the library decodes with: the fastest the processor runs, chosen
// once, or the portable one in a build configured with -Dkernel=portable.
const PayloadKernels& payload_kernels();

}  // namespace tarvok::raw
