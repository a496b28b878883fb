#include "payload_kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstring>
#include <type_traits>

#include "chunk_plan.hpp"
#include "opcode_rules.hpp"

#define TARVOK_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define TARVOK_AVX2_ALWAYS TARVOK_AVX2 __attribute__((always_inline))
#define TARVOK_AVX2_INLINE TARVOK_AVX2_ALWAYS inline

// Two passes over a batch of chunks. The first moves each point's position
// (16 bits, relative to the batch) and its opcode with the bytes behind it to
// the front of per-batch lists, eight bytes at a time; the second turns eight
// points at a time into output. Work after the first pass follows the points,
// about a third of the bytes, instead of every byte.
namespace tarvok::raw {
namespace {

// The last group of a chunk reads 16 bytes from its eighth-last byte.
constexpr std::size_t chunk_read = chunk + 8;
// Relative positions stay below 2^16 through a batch of deltas.
constexpr std::size_t batch_chunks = 8;
static_assert(batch_chunks * chunk * layout::last_delta_opcode < 0x10000);
constexpr std::size_t batch_points = batch_chunks * chunk;
// Below this a position stays below 2^31 through a batch.
constexpr std::uint32_t signed_position_limit = 0x80000000U - 0x10000U;

// For each 8-bit lane mask, the shuffles that move the kept lanes to the
// front, in one cache line.
struct alignas(64) Compress {
    // 32-bit lanes: the three bytes behind each kept byte, then the byte, for
    // operand and opcode; the lower and upper 128-bit halves give lanes 0-3
    // and 4-7.
    std::uint8_t words[32];
    // 16-bit lanes: the position of each kept byte.
    std::uint8_t positions[16];
    // How many lanes are kept: a load where the entry is read anyway.
    std::uint8_t kept;
};

struct CompressTable {
    Compress masks[256];

    constexpr CompressTable() : masks{}
    {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned kept = 0;
            for (unsigned lane = 0; lane < 8; ++lane) {
                if ((mask >> lane & 1U) == 0) {
                    continue;
                }
                masks[mask].positions[2 * kept] = static_cast<std::uint8_t>(2 * lane);
                masks[mask].positions[2 * kept + 1] = static_cast<std::uint8_t>(2 * lane + 1);
                for (unsigned byte = 0; byte < 3; ++byte) {
                    masks[mask].words[4 * kept + byte] = static_cast<std::uint8_t>(lane + 1 + byte);
                }
                masks[mask].words[4 * kept + 3] = static_cast<std::uint8_t>(lane);
                ++kept;
            }
            masks[mask].kept = static_cast<std::uint8_t>(kept);
        }
    }
};
constexpr CompressTable compress_table;

// What the first pass leaves for the second.
struct Batch {
    alignas(32) std::uint16_t position[batch_points + 8];
    alignas(32) std::uint32_t word[batch_points + 8];
    // The four operand bytes of an FF opcode, filled for those points only.
    alignas(32) std::uint32_t operand[batch_points + 8];
};

struct PointOut {
    ScanPoint* points;
};

struct PeakOut {
    double* mz;
    float* intensity;
};

// The bytes whose bit is set in `mask`, the others zero.
TARVOK_AVX2_INLINE __m256i bytes_of(__m256i bytes, std::uint32_t mask)
{
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(mask)),
                                               _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                                                2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ULL));
    return _mm256_and_si256(bytes, _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit));
}

TARVOK_AVX2_INLINE __m256i broadcast_last_word(__m256i words)
{
    const __m256i word_7 = _mm256_set1_epi16(0x0F0E);
    const __m256i upper = _mm256_permute2x128_si256(words, words, 0x11);
    return _mm256_shuffle_epi8(upper, word_7);
}

// 32 bytes: the position behind each byte, relative to the batch, as two
// registers of 16-bit lanes holding bytes 0-7 | 16-23 and 8-15 | 24-31.
// Pairs of delta bytes are summed first (at most 254), so a prefix sum over
// 16 lanes covers all 32 bytes.
TARVOK_AVX2_INLINE void half_positions(__m256i deltas, __m256i& carry, __m256i& low, __m256i& high)
{
    __m256i sum = _mm256_maddubs_epi16(deltas, _mm256_set1_epi8(1));
    sum = _mm256_add_epi16(sum, _mm256_slli_si256(sum, 2));
    sum = _mm256_add_epi16(sum, _mm256_slli_si256(sum, 4));
    sum = _mm256_add_epi16(sum, _mm256_slli_si256(sum, 8));
    const __m256i lane_totals = _mm256_shuffle_epi8(sum, _mm256_set1_epi16(0x0F0E));
    sum = _mm256_add_epi16(sum, _mm256_permute2x128_si256(lane_totals, lane_totals, 0x08));
    const __m256i odd = _mm256_add_epi16(sum, carry);
    carry = broadcast_last_word(odd);
    // An even byte's position is its odd neighbour's less that neighbour's delta.
    const __m256i even = _mm256_sub_epi16(odd, _mm256_srli_epi16(deltas, 8));
    low = _mm256_unpacklo_epi16(even, odd);
    high = _mm256_unpackhi_epi16(even, odd);
}

TARVOK_AVX2_INLINE __m256i position_shuffle(unsigned lower_mask, unsigned upper_mask)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(compress_table.masks[lower_mask].positions))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(compress_table.masks[upper_mask].positions)), 1);
}

TARVOK_AVX2_INLINE void compress_words(Batch& batch, std::size_t k, const std::uint8_t* group, unsigned mask)
{
    const __m256i source = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group)));
    const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(compress_table.masks[mask].words));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(batch.word + k), _mm256_shuffle_epi8(source, shuffle));
}

// One half of a chunk: 32 bytes at `bytes` with their point and delta masks.
TARVOK_AVX2_INLINE std::size_t compress_half(Batch& batch, std::size_t k, const std::uint8_t* bytes, __m256i raw,
                                             std::uint32_t points, std::uint32_t deltas, __m256i& carry)
{
    __m256i low;
    __m256i high;
    half_positions(bytes_of(raw, deltas), carry, low, high);
    const unsigned m0 = points & 0xFFU;
    const unsigned m1 = points >> 8U & 0xFFU;
    const unsigned m2 = points >> 16U & 0xFFU;
    const unsigned m3 = points >> 24U;
    const std::size_t k1 = k + compress_table.masks[m0].kept;
    const std::size_t k2 = k1 + compress_table.masks[m1].kept;
    const std::size_t k3 = k2 + compress_table.masks[m2].kept;
    const __m256i p02 = _mm256_shuffle_epi8(low, position_shuffle(m0, m2));
    const __m256i p13 = _mm256_shuffle_epi8(high, position_shuffle(m1, m3));
    // In order: each store may run past where the next begins.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.position + k), _mm256_castsi256_si128(p02));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.position + k1), _mm256_castsi256_si128(p13));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.position + k2), _mm256_extracti128_si256(p02, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.position + k3), _mm256_extracti128_si256(p13, 1));
    compress_words(batch, k, bytes, m0);
    compress_words(batch, k1, bytes + 8, m1);
    compress_words(batch, k2, bytes + 16, m2);
    compress_words(batch, k3, bytes + 24, m3);
    return k3 + compress_table.masks[m3].kept;
}

// The operands of a chunk's FF opcodes, which their words lack the last byte of.
TARVOK_AVX2_INLINE void add_four_byte_operands(Batch& batch, std::size_t first, const std::uint8_t* bytes,
                                               std::uint64_t points, std::uint64_t four)
{
    for (; four != 0; four &= four - 1) {
        const auto at = static_cast<unsigned>(std::countr_zero(four));
        const std::size_t k = first + static_cast<std::size_t>(std::popcount(points & ((std::uint64_t{1} << at) - 1)));
        batch.operand[k] = operand_value(bytes + at + 1, operand_length(layout::end_marker_byte));
    }
}

// Eight points' values from their words: the low 7 bits of a one-byte point
// opcode, or the operand cut to the long opcode's length.
template <bool HasFF>
TARVOK_AVX2_INLINE __m256i point_values(const Batch& batch, std::size_t t)
{
    const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(batch.word + t));
    const __m256i opcode = _mm256_srli_epi32(word, 24);
    const __m256i short_value = _mm256_and_si256(opcode, _mm256_set1_epi32(layout::short_intensity_bits));
    // The low 3 bits of FC to FF are 4 to 7: they pick the operand's mask.
    static_assert((first_long_opcode & 7U) == 4U);
    const __m256i operand_masks = _mm256_setr_epi32(0, 0, 0, 0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFF);
    const __m256i long_value = _mm256_and_si256(word, _mm256_permutevar8x32_epi32(operand_masks, opcode));
    const __m256i long_lanes = _mm256_cmpgt_epi32(opcode, _mm256_set1_epi32(first_long_opcode - 1));
    const __m256i value = _mm256_blendv_epi8(short_value, long_value, long_lanes);
    if constexpr (!HasFF) {
        return value;
    }
    const __m256i operand = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(batch.operand + t));
    const __m256i four_lanes = _mm256_cmpeq_epi32(opcode, _mm256_set1_epi32(layout::end_marker_byte));
    return _mm256_blendv_epi8(value, operand, four_lanes);
}

TARVOK_AVX2_INLINE __m256i point_positions(const Batch& batch, std::size_t t, __m256i base)
{
    const __m128i relative = _mm_loadu_si128(reinterpret_cast<const __m128i*>(batch.position + t));
    return _mm256_add_epi32(_mm256_cvtepu16_epi32(relative), base);
}

// The batch's points, eight at a time, as positions and values.
template <bool HasFF, class Eight>
TARVOK_AVX2_INLINE void each_eight_points(const Batch& batch, std::size_t count, std::uint32_t base, Eight eight)
{
    const __m256i base_lanes = _mm256_set1_epi32(static_cast<int>(base));
    for (std::size_t t = 0; t < count; t += 8) {
        eight(t, point_positions(batch, t, base_lanes), point_values<HasFF>(batch, t));
    }
}

template <bool HasFF>
TARVOK_AVX2_INLINE std::size_t emit(PointOut out, std::size_t k, const Batch& batch, std::size_t count,
                                    std::uint32_t base)
{
    each_eight_points<HasFF>(batch, count, base, [&](std::size_t t, __m256i p, __m256i v) TARVOK_AVX2_ALWAYS {
        const __m256i first = _mm256_unpacklo_epi32(p, v);  // points 0, 1 | 4, 5
        const __m256i second = _mm256_unpackhi_epi32(p, v);  // points 2, 3 | 6, 7
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.points + k + t),
                            _mm256_permute2x128_si256(first, second, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.points + k + t + 4),
                            _mm256_permute2x128_si256(first, second, 0x31));
    });
    return k + count;
}

template <bool Signed>
TARVOK_AVX2_INLINE void store_peaks(PeakOut out, std::size_t k, __m256i p, __m256i v)
{
    if constexpr (Signed) {
        _mm256_storeu_pd(out.mz + k, _mm256_cvtepi32_pd(_mm256_castsi256_si128(p)));
        _mm256_storeu_pd(out.mz + k + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(p, 1)));
        _mm256_storeu_ps(out.intensity + k, _mm256_cvtepi32_ps(v));
        return;
    }
    // Unsigned to double: take 2^31 off as a signed value, add it back exactly.
    const __m256i shifted = _mm256_xor_si256(p, _mm256_set1_epi32(static_cast<int>(0x80000000U)));
    const __m256d two_31 = _mm256_set1_pd(2147483648.0);
    _mm256_storeu_pd(out.mz + k, _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(shifted)), two_31));
    _mm256_storeu_pd(out.mz + k + 4, _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(shifted, 1)), two_31));
    // Unsigned to float: both 16-bit halves convert exactly, and their sum is
    // rounded once, as a direct conversion rounds.
    const __m256 high = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(v, 16)), _mm256_set1_ps(65536.0F));
    const __m256 low = _mm256_cvtepi32_ps(_mm256_and_si256(v, _mm256_set1_epi32(0xFFFF)));
    _mm256_storeu_ps(out.intensity + k, _mm256_add_ps(high, low));
}

// Zero intensities of one-byte opcodes never reach the batch; a long opcode
// with a zero operand is left out here, one point at a time.
template <bool HasFF, bool Signed>
TARVOK_AVX2_INLINE std::size_t emit_peaks(PeakOut out, std::size_t k, const Batch& batch, std::size_t count,
                                          std::uint32_t base)
{
    each_eight_points<HasFF>(batch, count, base, [&](std::size_t t, __m256i p, __m256i v) TARVOK_AVX2_ALWAYS {
        const std::size_t lanes = count - t < 8 ? count - t : 8;
        const auto zero_lanes = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256()))));
        if ((zero_lanes & ((1U << lanes) - 1U)) == 0) {
            store_peaks<Signed>(out, k, p, v);
            k += lanes;
            return;
        }
        alignas(32) std::uint32_t positions[8];
        alignas(32) std::uint32_t values[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(positions), p);
        _mm256_store_si256(reinterpret_cast<__m256i*>(values), v);
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            if (values[lane] != 0) {
                out.mz[k] = positions[lane];
                out.intensity[k] = static_cast<float>(values[lane]);
                ++k;
            }
        }
    });
    return k;
}

template <bool HasFF>
TARVOK_AVX2_INLINE std::size_t emit(PeakOut out, std::size_t k, const Batch& batch, std::size_t count,
                                    std::uint32_t base)
{
    // Below 2^31 the signed conversions give the unsigned values, rounded
    // alike; only an FF opcode's operand reaches that high.
    if (!HasFF && base < signed_position_limit) {
        return emit_peaks<false, true>(out, k, batch, count, base);
    }
    return emit_peaks<HasFF, false>(out, k, batch, count, base);
}

TARVOK_AVX2_INLINE std::uint64_t mask_of(__m256i low, __m256i high)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32U;
}

TARVOK_AVX2_INLINE std::uint64_t bytes_at_least(__m256i low, __m256i high, std::uint8_t value)
{
    const __m256i floor = _mm256_set1_epi8(static_cast<char>(value));
    return mask_of(_mm256_cmpeq_epi8(_mm256_max_epu8(low, floor), low),
                   _mm256_cmpeq_epi8(_mm256_max_epu8(high, floor), high));
}

TARVOK_AVX2_INLINE std::uint64_t bytes_equal(__m256i low, __m256i high, std::uint8_t value)
{
    const __m256i wanted = _mm256_set1_epi8(static_cast<char>(value));
    return mask_of(_mm256_cmpeq_epi8(low, wanted), _mm256_cmpeq_epi8(high, wanted));
}

// What the chunks of a batch carry from one to the next.
struct BatchState {
    std::size_t count;  // points in the batch so far
    __m256i carry;  // the position behind the last chunk, relative to the batch
    std::uint64_t carried;  // operand bytes of the last chunk's last opcode in the next
    bool has_ff;
};

// One chunk at `i`; `Tail` where fewer than `chunk_read` bytes are left, which
// are then copied out with zeros behind them that the valid mask keeps out of
// every decision. True where decoding stops in it.
template <bool Tail, class Out>
TARVOK_AVX2_INLINE bool decode_chunk(const std::uint8_t* b, std::size_t n, std::size_t i, Batch& batch,
                                     BatchState& state)
{
    const std::uint8_t* bytes = b + i;
    std::uint64_t valid = ~std::uint64_t{0};
    std::uint8_t tail[chunk_read];
    if constexpr (Tail) {
        const std::size_t left = n - i;
        std::memset(tail, 0, sizeof tail);
        std::memcpy(tail, bytes, left);
        bytes = tail;
        valid = left >= chunk ? valid : (std::uint64_t{1} << left) - 1;
    }
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    const __m256i high_half = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
    const std::uint64_t high = mask_of(low, high_half) & valid;
    const std::uint64_t longs = bytes_at_least(low, high_half, first_long_opcode) & valid & ~state.carried;
    // FC to FF differ in their two low bits: FD and FF have bit 0 set, FE and
    // FF bit 1; shifting a bit to the top lets a byte mask read it.
    const std::uint64_t bit_0 = mask_of(_mm256_slli_epi16(low, 7), _mm256_slli_epi16(high_half, 7));
    const std::uint64_t bit_1 = mask_of(_mm256_slli_epi16(low, 6), _mm256_slli_epi16(high_half, 6));
    static_assert(first_long_opcode == 0xFC);
    const LongBytes long_bytes{longs, longs & (bit_0 | bit_1), longs & bit_1, longs & bit_0 & bit_1};
    const ChunkPlan plan = plan_chunk(b, n, i, long_bytes, state.carried, valid, !Tail || n - i >= chunk_reach);
    const ChunkMasks masks = chunk_masks(high, longs, plan);
    std::uint64_t points = masks.points;
    if constexpr (std::is_same_v<Out, PeakOut>) {
        points &= ~bytes_equal(low, high_half, layout::first_short_point_opcode);
    }
    const std::size_t first = state.count;
    std::size_t count = compress_half(batch, first, bytes, low, static_cast<std::uint32_t>(points),
                                      static_cast<std::uint32_t>(masks.deltas), state.carry);
    state.count = compress_half(batch, count, bytes + 32, high_half, static_cast<std::uint32_t>(points >> 32U),
                                static_cast<std::uint32_t>(masks.deltas >> 32U), state.carry);
    if (const std::uint64_t four = masks.longs & long_bytes.four; four != 0) {
        add_four_byte_operands(batch, first, bytes, points, four);
        state.has_ff = true;
    }
    state.carried = plan.spill;
    return plan.stop;
}

template <class Out>
TARVOK_AVX2 std::size_t decode(std::span<const std::uint8_t> input, Out out)
{
    const std::uint8_t* b = input.data();
    const std::size_t n = input.size();
    Batch batch;
    std::uint32_t base = 0;
    std::uint64_t carried = 0;
    std::size_t k = 0;
    std::size_t i = 0;
    bool stop = false;
    while (i < n && !stop) {
        BatchState state{0, _mm256_setzero_si256(), carried, false};
        // The tail's chunks in a loop of their own keep the copy they need
        // out of the loop over whole chunks.
        std::size_t c = 0;
        for (; c < batch_chunks && n - i >= chunk_read && !stop; ++c, i += chunk) {
            stop = decode_chunk<false, Out>(b, n, i, batch, state);
        }
        for (; c < batch_chunks && i < n && !stop; ++c, i += chunk) {
            stop = decode_chunk<true, Out>(b, n, i, batch, state);
        }
        k = state.has_ff ? emit<true>(out, k, batch, state.count, base)
                         : emit<false>(out, k, batch, state.count, base);
        base += static_cast<std::uint16_t>(_mm256_cvtsi256_si32(state.carry));
        carried = state.carried;
    }
    return k;
}

TARVOK_AVX2 std::size_t points(std::span<const std::uint8_t> payload, ScanPoint* out)
{
    return decode(payload, PointOut{out});
}

TARVOK_AVX2 std::size_t peaks(std::span<const std::uint8_t> payload, double* mz, float* intensity)
{
    return decode(payload, PeakOut{mz, intensity});
}

bool processor_runs_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

constexpr PayloadKernels avx2{"avx2", points, peaks};

}  // namespace

const PayloadKernels* avx2_kernels()
{
    static const bool runs = processor_runs_avx2();
    return runs ? &avx2 : nullptr;
}

}  // namespace tarvok::raw

#else

namespace tarvok::raw {

const PayloadKernels* avx2_kernels()
{
    return nullptr;
}

}  // namespace tarvok::raw

#endif
