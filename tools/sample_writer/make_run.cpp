#include <algorithm>
#include <cmath>
#include <limits>

#include "little_endian.hpp"
#include "payload_encoding.hpp"
#include "prng.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/layout.hpp"

namespace sample_writer {

namespace {

using tarvok::raw::layout::block_header_size;
constexpr std::uint32_t scans_per_cycle = 11;

struct ScanShape {
    std::uint8_t ms_level_code;
    std::uint32_t min_peaks;
    std::uint32_t max_peaks;
    std::uint32_t first_position_min;
    std::uint32_t first_position_max;
};

constexpr ScanShape survey_scan{1, 2000, 6000, 20000, 25000};
constexpr ScanShape fragment_scan{2, 100, 1500, 5000, 10000};

// Most peaks are near-noise; a few percent are real signal whose intensities
// reach the multi-byte operands, the largest ones the four-byte form.
constexpr double noise_log_median = 4.1;
constexpr double noise_log_sigma = 1.3;
constexpr double signal_log_median = 10.8;
constexpr double signal_log_sigma = 2.5;
constexpr std::uint64_t signal_percent = 4;
constexpr std::uint64_t wide_step_percent = 10;

// Irwin-Hall sum of four 16-bit uniforms, scaled to unit variance.
double standard_normal(Prng& prng) {
    const std::uint64_t bits = prng.next();
    double sum = 0.0;
    for (int shift = 0; shift < 64; shift += 16) {
        sum += static_cast<double>((bits >> shift) & 0xFFFFU) / 65536.0;
    }
    return (sum - 2.0) * std::sqrt(3.0);
}

// No byte of an intensity is FF, so the only FF bytes of a payload are FF
// opcodes, each followed by a non-FF byte: no end marker can form inside.
std::uint32_t without_ff_bytes(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (((value >> shift) & 0xFFU) == 0xFFU) {
            value -= 1U << shift;
        }
    }
    return value;
}

std::uint32_t draw_intensity(Prng& prng, bool is_signal) {
    const double log_median = is_signal ? signal_log_median : noise_log_median;
    const double log_sigma = is_signal ? signal_log_sigma : noise_log_sigma;
    const double value = std::exp(log_median + log_sigma * standard_normal(prng));
    const double ceiling = static_cast<double>(std::numeric_limits<std::uint32_t>::max());
    return without_ff_bytes(static_cast<std::uint32_t>(std::min(value, ceiling)));
}

void append_scan_payload(std::vector<std::uint8_t>& out, Prng& prng, const ScanShape& shape) {
    const std::uint32_t peaks = prng.between(shape.min_peaks, shape.max_peaks);
    append_delta(out, prng.between(shape.first_position_min, shape.first_position_max));
    for (std::uint32_t peak = 0; peak < peaks; ++peak) {
        const std::uint64_t choice = prng.next();
        const bool wide_step = choice % 100 < wide_step_percent;
        const bool is_signal = (choice >> 32) % 100 < signal_percent;
        if (peak != 0) {
            append_delta(out, wide_step ? prng.between(128, 1200) : prng.between(1, 120));
        }
        append_intensity(out, draw_intensity(prng, is_signal));
    }
}

// Nothing reads block headers; scan number and payload length only help
// someone looking at a file by hand.
void fill_block_header(std::span<std::uint8_t> header, std::uint32_t scan_number, std::size_t payload_size) {
    put_u32_le(header, 0, scan_number);
    put_u32_le(header, 4, static_cast<std::uint32_t>(payload_size));
}

}  // namespace

Run make_run(const RunOptions& options) {
    Prng prng(options.seed);
    Run run;
    run.index.reserve(options.scans);
    // Scans average about 3.4 KB.
    run.scan_bytes.reserve(
        std::min<std::size_t>(std::size_t{options.scans} * 3500, std::numeric_limits<std::uint32_t>::max()));
    std::vector<std::uint8_t>& out = run.scan_bytes;
    constexpr std::uint8_t terminator[tarvok::raw::layout::end_marker_size] = {0xFF, 0xFF, 0xFF, 0xFF};

    for (std::uint32_t scan = 0; scan < options.scans; ++scan) {
        const ScanShape& shape = scan % scans_per_cycle == 0 ? survey_scan : fragment_scan;
        const std::size_t block_offset = out.size();
        out.resize(block_offset + block_header_size, 0);
        append_scan_payload(out, prng, shape);
        out.insert(out.end(), std::begin(terminator), std::end(terminator));
        if (out.size() > std::numeric_limits<std::uint32_t>::max()) {
            out.resize(block_offset);
            break;
        }
        const std::size_t payload_size = out.size() - block_offset - block_header_size - sizeof terminator;
        fill_block_header(std::span(out).subspan(block_offset, block_header_size), scan + 1, payload_size);

        IndexEntry entry;
        entry.block_offset = static_cast<std::uint32_t>(block_offset);
        entry.block_size = static_cast<std::uint32_t>(out.size() - block_offset);
        entry.retention_time_min =
            static_cast<float>(options.minutes * (scan + 1) / static_cast<double>(options.scans));
        entry.ms_level_code = shape.ms_level_code;
        const std::uint64_t opaque_low = prng.next();
        const std::uint64_t opaque_high = prng.next();
        for (std::size_t i = 0; i < 8; ++i) {
            entry.opaque[i] = static_cast<std::uint8_t>(opaque_low >> (8 * i));
            entry.opaque[8 + i] = static_cast<std::uint8_t>(opaque_high >> (8 * i));
        }
        run.index.push_back(entry);
    }
    return run;
}

}  // namespace sample_writer
