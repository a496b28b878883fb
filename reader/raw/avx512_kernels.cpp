#include "payload_kernels.hpp"

#if defined(__x86_64__)

// GCC 12 takes the deliberately undefined registers inside its own AVX-512
// intrinsics for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <array>
#include <bit>
#include <type_traits>
#include <utility>

#include "chunk_plan.hpp"
#include "opcode_rules.hpp"

#define TARVOK_AVX512 \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))
#define TARVOK_AVX512_ALWAYS TARVOK_AVX512 __attribute__((always_inline))
#define TARVOK_AVX512_INLINE TARVOK_AVX512_ALWAYS inline

// Two passes over a batch of chunks, as in the AVX2 set, with compress
// instructions in place of shuffle tables. The first pass moves each point's
// position (16 bits, relative to the batch) and opcode, and each long
// opcode's operand, to the front of per-batch lists, a chunk at a time; the
// second turns sixteen points at a time into output.
namespace tarvok::raw {
namespace {

// Relative positions stay below 2^16 through a batch of deltas.
constexpr std::size_t batch_chunks = 8;
static_assert(batch_chunks * chunk * layout::last_delta_opcode < 0x10000);
constexpr std::size_t batch_points = batch_chunks * chunk;
// Every long opcode has an operand byte behind it.
constexpr std::size_t batch_longs = batch_points / 2;

// Each chunk stores whole vectors from where the previous one's points end.
struct Batch {
    alignas(64) std::uint16_t position[batch_points + 32];
    alignas(64) std::uint8_t opcode[batch_points + 64];
    // A long opcode's operand, cut to its length.
    alignas(64) std::uint32_t operand[batch_longs + 16];
};

struct PointOut {
    ScanPoint* points;
};

struct PeakOut {
    double* mz;
    float* intensity;
};

struct ChunkBytes {
    __m512i bytes;
    __m512i next;  // the 8 bytes behind the chunk
    std::uint64_t valid;
    bool inside;  // no operand of the chunk's opcodes can reach the end
};

// Nothing is loaded from at or past `n`; those bytes read as zero.
TARVOK_AVX512_INLINE ChunkBytes load_chunk(const std::uint8_t* b, std::size_t n, std::size_t i)
{
    const std::size_t left = n - i;
    if (left >= chunk + 8) {
        return {_mm512_loadu_si512(b + i), _mm512_maskz_loadu_epi8(0xFF, b + i + chunk), ~std::uint64_t{0}, true};
    }
    const std::uint64_t valid = left >= chunk ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
    const std::uint64_t behind = left > chunk ? (std::uint64_t{1} << (left - chunk)) - 1 : 0;
    return {_mm512_maskz_loadu_epi8(valid, b + i), _mm512_maskz_loadu_epi8(behind, b + i + chunk), valid,
            left >= chunk_reach};
}

template <std::size_t... Lane>
constexpr std::array<std::uint16_t, 32> interleaving(std::uint16_t first_pair, std::index_sequence<Lane...>)
{
    return {static_cast<std::uint16_t>(first_pair + Lane / 2 + (Lane % 2 == 0 ? 0 : 32))...};
}

// Even bytes' lanes from the first register, odd bytes' from the second.
alignas(64) constexpr std::array<std::uint16_t, 32> bytes_0_to_31 = interleaving(0, std::make_index_sequence<32>());
alignas(64) constexpr std::array<std::uint16_t, 32> bytes_32_to_63 = interleaving(16, std::make_index_sequence<32>());

// The chunk's positions relative to the batch, bytes 0-31 and 32-63 in
// 16-bit lanes. Pairs of delta bytes are summed first (at most 254), so one
// prefix sum over 32 lanes covers all 64 bytes.
TARVOK_AVX512_INLINE void chunk_positions(__m512i deltas, __m512i& carry, __m512i& first, __m512i& second)
{
    __m512i sum = _mm512_maddubs_epi16(deltas, _mm512_set1_epi8(1));
    sum = _mm512_add_epi16(sum, _mm512_bslli_epi128(sum, 2));
    sum = _mm512_add_epi16(sum, _mm512_bslli_epi128(sum, 4));
    sum = _mm512_add_epi16(sum, _mm512_bslli_epi128(sum, 8));
    // Each 128-bit lane adds the totals of the lanes below it.
    const __m512i totals = _mm512_shuffle_epi8(sum, _mm512_set1_epi16(0x0F0E));
    const __m512i below_1 = _mm512_maskz_shuffle_i64x2(0xFC, totals, totals, _MM_SHUFFLE(2, 1, 0, 0));
    const __m512i below_2 = _mm512_maskz_shuffle_i64x2(0xF0, totals, totals, _MM_SHUFFLE(1, 0, 0, 0));
    const __m512i below_3 = _mm512_maskz_shuffle_i64x2(0xC0, totals, totals, 0);
    sum = _mm512_add_epi16(_mm512_add_epi16(sum, carry), _mm512_add_epi16(below_1, _mm512_add_epi16(below_2, below_3)));
    carry = _mm512_permutexvar_epi16(_mm512_set1_epi16(31), sum);
    // An even byte's position is its odd neighbour's less that neighbour's delta.
    const __m512i even = _mm512_sub_epi16(sum, _mm512_srli_epi16(deltas, 8));
    first = _mm512_permutex2var_epi16(even, _mm512_load_si512(bytes_0_to_31.data()), sum);
    second = _mm512_permutex2var_epi16(even, _mm512_load_si512(bytes_32_to_63.data()), sum);
}

template <std::size_t... Byte>
constexpr std::array<std::uint8_t, 64> byte_lanes(std::size_t step, std::index_sequence<Byte...>)
{
    return {static_cast<std::uint8_t>(Byte / step)...};
}

alignas(64) constexpr std::array<std::uint8_t, 64> byte_index = byte_lanes(1, std::make_index_sequence<64>());
alignas(64) constexpr std::array<std::uint8_t, 64> fourfold = byte_lanes(4, std::make_index_sequence<64>());

// The operands of the chunk's long opcodes, sixteen at a time: bytes 1 to 4
// behind each, cut to the opcode's length, which its low two bits give.
TARVOK_AVX512_INLINE std::size_t add_operands(Batch& batch, std::size_t first, const ChunkBytes& c,
                                              std::uint64_t longs)
{
    const __m512i at = _mm512_maskz_compress_epi8(longs, _mm512_load_si512(byte_index.data()));
    const auto count = static_cast<unsigned>(std::popcount(longs));
    static_assert(layout::end_marker_byte == 0xFF && first_long_opcode == 0xFC);
    for (unsigned g = 0; g < count; g += 16) {
        const __m512i lanes =
            _mm512_add_epi8(_mm512_load_si512(fourfold.data()), _mm512_set1_epi8(static_cast<char>(g)));
        const __m512i opcode_at = _mm512_permutexvar_epi8(lanes, at);
        const __m512i operand = _mm512_permutex2var_epi8(
            c.bytes, _mm512_add_epi8(opcode_at, _mm512_set1_epi32(0x04030201)), c.next);
        const __m512i opcode = _mm512_maskz_permutexvar_epi8(0x1111111111111111ULL, opcode_at, c.bytes);
        const __m512i unused_bits = _mm512_slli_epi32(_mm512_sub_epi32(_mm512_set1_epi32(0xFF), opcode), 3);
        _mm512_storeu_si512(batch.operand + first + g,
                            _mm512_srlv_epi32(_mm512_sllv_epi32(operand, unused_bits), unused_bits));
    }
    return first + count;
}

// What the chunks of a batch carry from one to the next.
struct BatchState {
    std::size_t count;  // points in the batch so far
    std::size_t longs;  // operands so far
    __m512i carry;  // the position behind the last chunk, in every 16-bit lane
    std::uint64_t carried;  // operand bytes of the last chunk's last opcode in the next
};

template <class Out>
TARVOK_AVX512_INLINE bool decode_chunk(const std::uint8_t* b, std::size_t n, std::size_t i, Batch& batch,
                                       BatchState& state)
{
    const ChunkBytes c = load_chunk(b, n, i);
    const std::uint64_t high = _mm512_movepi8_mask(c.bytes);
    const std::uint64_t longs =
        _mm512_cmpge_epu8_mask(c.bytes, _mm512_set1_epi8(static_cast<char>(first_long_opcode))) & ~state.carried;
    // FC to FF differ in their two low bits: FD and FF have bit 0 set, FE and FF bit 1.
    const std::uint64_t bit_0 = _mm512_test_epi8_mask(c.bytes, _mm512_set1_epi8(1));
    const std::uint64_t bit_1 = _mm512_test_epi8_mask(c.bytes, _mm512_set1_epi8(2));
    const LongBytes long_bytes{longs, longs & (bit_0 | bit_1), longs & bit_1, longs & bit_0 & bit_1};
    const ChunkPlan plan = plan_chunk(b, n, i, long_bytes, state.carried, c.valid, c.inside);
    const ChunkMasks masks = chunk_masks(high, longs, plan);
    std::uint64_t points = masks.points;
    if constexpr (std::is_same_v<Out, PeakOut>) {
        // Zero intensities of one-byte opcodes never reach the batch.
        const __m512i zero_point = _mm512_set1_epi8(static_cast<char>(layout::first_short_point_opcode));
        points &= ~_mm512_cmpeq_epi8_mask(c.bytes, zero_point);
    }
    const __m512i deltas = _mm512_maskz_mov_epi8(masks.deltas, c.bytes);
    if (points == 0) {
        const __m512i sums = _mm512_sad_epu8(deltas, _mm512_setzero_si512());
        state.carry = _mm512_add_epi16(state.carry,
                                       _mm512_set1_epi16(static_cast<short>(_mm512_reduce_add_epi64(sums))));
    } else {
        __m512i first;
        __m512i second;
        chunk_positions(deltas, state.carry, first, second);
        const auto low_points = static_cast<std::uint32_t>(points);
        _mm512_storeu_si512(batch.position + state.count, _mm512_maskz_compress_epi16(low_points, first));
        _mm512_storeu_si512(batch.position + state.count + std::popcount(low_points),
                            _mm512_maskz_compress_epi16(static_cast<std::uint32_t>(points >> 32U), second));
        _mm512_storeu_si512(batch.opcode + state.count, _mm512_maskz_compress_epi8(points, c.bytes));
        state.count += static_cast<std::size_t>(std::popcount(points));
        if (masks.longs != 0) {
            state.longs = add_operands(batch, state.longs, c, masks.longs);
        }
    }
    state.carried = plan.spill;
    return plan.stop;
}

// The batch's points, sixteen at a time, as positions and values, with the
// lanes that hold one; the lanes past the last point are left to the slack.
template <class Sixteen>
TARVOK_AVX512_INLINE void each_sixteen_points(const Batch& batch, std::size_t count, std::uint32_t base,
                                              Sixteen sixteen)
{
    const __m512i base_lanes = _mm512_set1_epi32(static_cast<int>(base));
    const std::uint32_t* operand = batch.operand;
    for (std::size_t t = 0; t < count; t += 16) {
        const auto lanes = static_cast<__mmask16>(count - t < 16 ? (1U << (count - t)) - 1U : 0xFFFFU);
        const __m128i opcodes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(batch.opcode + t));
        const __mmask16 longs =
            _mm_mask_cmpge_epu8_mask(lanes, opcodes, _mm_set1_epi8(static_cast<char>(first_long_opcode)));
        const __m512i short_value =
            _mm512_and_si512(_mm512_cvtepu8_epi32(opcodes), _mm512_set1_epi32(layout::short_intensity_bits));
        // From a register: the memory forms of expand and compress are slow on some processors.
        const __m512i value = _mm512_mask_expand_epi32(short_value, longs, _mm512_loadu_si512(operand));
        operand += std::popcount(static_cast<unsigned>(longs));
        const __m512i relative =
            _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(batch.position + t)));
        sixteen(t, lanes, _mm512_add_epi32(relative, base_lanes), value);
    }
}

TARVOK_AVX512_INLINE std::size_t emit(const PointOut& out, std::size_t k, const Batch& batch, std::size_t count,
                                      std::uint32_t base)
{
    each_sixteen_points(batch, count, base, [&](std::size_t t, __mmask16, __m512i p, __m512i v) TARVOK_AVX512_ALWAYS {
        const __m512i points_0_to_7 = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const __m512i points_8_to_15 = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        _mm512_storeu_si512(out.points + k + t, _mm512_permutex2var_epi32(p, points_0_to_7, v));
        _mm512_storeu_si512(out.points + k + t + 8, _mm512_permutex2var_epi32(p, points_8_to_15, v));
    });
    return k + count;
}

// A long opcode with a zero operand is left out here.
TARVOK_AVX512_INLINE std::size_t emit(const PeakOut& out, std::size_t k, const Batch& batch, std::size_t count,
                                      std::uint32_t base)
{
    each_sixteen_points(batch, count, base, [&](std::size_t, __mmask16 lanes, __m512i p, __m512i v)
                                                TARVOK_AVX512_ALWAYS {
        const __mmask16 keep = _mm512_mask_test_epi32_mask(lanes, v, v);
        if (keep != lanes) {
            p = _mm512_maskz_compress_epi32(keep, p);
            v = _mm512_maskz_compress_epi32(keep, v);
        }
        _mm512_storeu_pd(out.mz + k, _mm512_cvtepu32_pd(_mm512_castsi512_si256(p)));
        _mm512_storeu_pd(out.mz + k + 8, _mm512_cvtepu32_pd(_mm512_extracti64x4_epi64(p, 1)));
        _mm512_storeu_ps(out.intensity + k, _mm512_cvtepu32_ps(v));
        k += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(keep)));
    });
    return k;
}

template <class Out>
TARVOK_AVX512 std::size_t decode(std::span<const std::uint8_t> input, const Out& out)
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
        BatchState state{0, 0, _mm512_setzero_si512(), carried};
        for (std::size_t c = 0; c < batch_chunks && i < n && !stop; ++c, i += chunk) {
            stop = decode_chunk<Out>(b, n, i, batch, state);
        }
        k = emit(out, k, batch, state.count, base);
        base += static_cast<std::uint16_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(state.carry)));
        carried = state.carried;
    }
    return k;
}

TARVOK_AVX512 std::size_t points(std::span<const std::uint8_t> payload, ScanPoint* out)
{
    return decode(payload, PointOut{out});
}

TARVOK_AVX512 std::size_t peaks(std::span<const std::uint8_t> payload, double* mz, float* intensity)
{
    return decode(payload, PeakOut{mz, intensity});
}

bool processor_runs_avx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

constexpr PayloadKernels avx512{"avx512", points, peaks};

}  // namespace

const PayloadKernels* avx512_kernels()
{
    static const bool runs = processor_runs_avx512();
    return runs ? &avx512 : nullptr;
}

}  // namespace tarvok::raw

#else

namespace tarvok::raw {

const PayloadKernels* avx512_kernels()
{
    return nullptr;
}

}  // namespace tarvok::raw

#endif
