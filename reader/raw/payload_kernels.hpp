#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {

// Where a delivered window's payload ends, and an upper bound on the points
// it can decode to (its bytes with the high bit set).
struct PayloadExtent {
    std::size_t length = 0;
    std::size_t point_bound = 0;
};

// The decoders store whole vectors: their output needs room for this many
// elements beyond the point bound (or the window length).
inline constexpr std::size_t decode_slack = 16;

// One implementation of the payload passes. Every set gives identical
// results; they differ only in speed and in the instructions they need.
struct PayloadKernels {
    // The terminator search and the point bound in one pass.
    PayloadExtent (*extent)(std::span<const std::uint8_t> bytes);
    std::size_t (*point_bound)(std::span<const std::uint8_t> bytes);
    // Every point, zero intensities included; returns the count.
    std::size_t (*decode_points)(std::span<const std::uint8_t> bytes, ScanPoint* points);
    // The window's payload, in front of its first FF FF FF FF, decoded to the
    // points with a non-zero intensity as a spectrum's m/z and intensity
    // values; both need room for the window's length plus the slack.
    // Returns the count.
    std::size_t (*decode_block_peaks)(std::span<const std::uint8_t> window, double* mz, float* intensity);
};

const PayloadKernels& portable_kernels();
// Null where the processor lacks AVX-512 (F, BW, VL, DQ, VBMI) or the build
// is not for x86-64.
const PayloadKernels* avx512_kernels();
// The fastest set the processor runs, chosen once.
const PayloadKernels& payload_kernels();

}  // namespace tarvok::raw
