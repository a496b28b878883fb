#include "payload_kernels.hpp"

#if defined(__x86_64__)

// GCC 12 takes the deliberately undefined registers inside its own AVX-512
// intrinsics for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <bit>

#include "chunk_plan.hpp"
#include "opcode_rules.hpp"

#define TARVOK_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,bmi,bmi2,popcnt")))
#define TARVOK_AVX512_INLINE TARVOK_AVX512 __attribute__((always_inline)) inline

namespace tarvok::raw {
namespace {

struct PointOut {
    ScanPoint* points;
};

struct PeakOut {
    double* mz;
    float* intensity;
};

TARVOK_AVX512_INLINE std::size_t emit(const PointOut& out, std::size_t k, __mmask16 keep, __m512i position,
                                      __m512i value)
{
    const __m512i low_half = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i high_half = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    const __m512i positions = _mm512_maskz_compress_epi32(keep, position);
    const __m512i values = _mm512_maskz_compress_epi32(keep, value);
    _mm512_storeu_si512(out.points + k, _mm512_permutex2var_epi32(positions, low_half, values));
    _mm512_storeu_si512(out.points + k + 8, _mm512_permutex2var_epi32(positions, high_half, values));
    return k + static_cast<std::size_t>(std::popcount(static_cast<unsigned>(keep)));
}

TARVOK_AVX512_INLINE std::size_t emit(const PeakOut& out, std::size_t k, __mmask16 keep, __m512i position,
                                      __m512i value)
{
    keep = _mm512_mask_test_epi32_mask(keep, value, value);
    const __m512i positions = _mm512_maskz_compress_epi32(keep, position);
    const __m512i values = _mm512_maskz_compress_epi32(keep, value);
    _mm512_storeu_pd(out.mz + k, _mm512_cvtepu32_pd(_mm512_castsi512_si256(positions)));
    _mm512_storeu_pd(out.mz + k + 8, _mm512_cvtepu32_pd(_mm512_extracti64x4_epi64(positions, 1)));
    _mm512_storeu_ps(out.intensity + k, _mm512_cvtepu32_ps(values));
    return k + static_cast<std::size_t>(std::popcount(static_cast<unsigned>(keep)));
}

// Bytes 1 to 4 behind each of a group's 16 bytes, gathered from the chunk and
// the bytes after it.
TARVOK_AVX512_INLINE __m512i operand_index(int group)
{
    alignas(64) static constexpr std::uint8_t first_group[64] = {
        1,  2,  3,  4,  2,  3,  4,  5,  3,  4,  5,  6,  4,  5,  6,  7,  5,  6,  7,  8,  6,
        7,  8,  9,  7,  8,  9,  10, 8,  9,  10, 11, 9,  10, 11, 12, 10, 11, 12, 13, 11, 12,
        13, 14, 12, 13, 14, 15, 13, 14, 15, 16, 14, 15, 16, 17, 15, 16, 17, 18, 16, 17, 18, 19,
    };
    return _mm512_add_epi8(_mm512_load_si512(first_group), _mm512_set1_epi8(static_cast<char>(16 * group)));
}

// One group of 16 bytes: positions as the running position plus a prefix sum
// of the delta bytes, values from the opcode or its operand.
template <int Group, bool HasLongs, class Out>
TARVOK_AVX512_INLINE std::size_t decode_group(const Out& out, std::size_t k, __m512i bytes, __m512i next,
                                              const ChunkMasks& masks, __m512i& position)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i opcode = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(bytes, Group));
    const auto lane_mask = [](std::uint64_t mask) { return static_cast<__mmask16>(mask >> (16 * Group)); };

    __m512i sum = _mm512_maskz_mov_epi32(lane_mask(masks.deltas), opcode);
    sum = _mm512_add_epi32(sum, _mm512_alignr_epi32(sum, zero, 15));
    sum = _mm512_add_epi32(sum, _mm512_alignr_epi32(sum, zero, 14));
    sum = _mm512_add_epi32(sum, _mm512_alignr_epi32(sum, zero, 12));
    sum = _mm512_add_epi32(sum, _mm512_alignr_epi32(sum, zero, 8));
    const __m512i positions = _mm512_add_epi32(sum, position);
    position = _mm512_permutexvar_epi32(_mm512_set1_epi32(15), positions);

    __m512i value = _mm512_and_si512(opcode, _mm512_set1_epi32(0x7F));
    if constexpr (HasLongs) {
        const __m512i operand = _mm512_permutex2var_epi8(bytes, operand_index(Group), next);
        const __m512i unused_bits = _mm512_slli_epi32(_mm512_sub_epi32(_mm512_set1_epi32(0xFF), opcode), 3);
        const __m512i wide = _mm512_srlv_epi32(_mm512_sllv_epi32(operand, unused_bits), unused_bits);
        value = _mm512_mask_mov_epi32(value, lane_mask(masks.longs), wide);
    }
    return emit(out, k, lane_mask(masks.points), positions, value);
}

template <bool HasLongs, class Out>
TARVOK_AVX512_INLINE std::size_t decode_groups(const Out& out, std::size_t k, __m512i bytes, __m512i next,
                                               const ChunkMasks& masks, __m512i& position)
{
    k = decode_group<0, HasLongs>(out, k, bytes, next, masks, position);
    k = decode_group<1, HasLongs>(out, k, bytes, next, masks, position);
    k = decode_group<2, HasLongs>(out, k, bytes, next, masks, position);
    return decode_group<3, HasLongs>(out, k, bytes, next, masks, position);
}

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

TARVOK_AVX512_INLINE std::uint64_t bytes_at_least(__m512i bytes, std::uint8_t value)
{
    return _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(static_cast<char>(value)));
}

template <class Out>
TARVOK_AVX512 std::size_t decode(std::span<const std::uint8_t> input, const Out& out)
{
    const std::uint8_t* b = input.data();
    const std::size_t n = input.size();
    const __m512i long_opcode = _mm512_set1_epi8(static_cast<char>(first_long_opcode));
    __m512i position = _mm512_setzero_si512();
    std::uint64_t carried = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; i += chunk) {
        const ChunkBytes c = load_chunk(b, n, i);
        const std::uint64_t high = _mm512_movepi8_mask(c.bytes);
        const std::uint64_t longs = _mm512_cmpge_epu8_mask(c.bytes, long_opcode) & ~carried;

        const LongBytes long_bytes{longs, bytes_at_least(c.bytes, 0xFD) & ~carried,
                                   bytes_at_least(c.bytes, 0xFE) & ~carried, bytes_at_least(c.bytes, 0xFF) & ~carried};
        const ChunkPlan plan = plan_chunk(b, n, i, long_bytes, carried, c.valid, c.inside);
        const ChunkMasks masks = chunk_masks(high, longs, plan);
        if (masks.points == 0) {
            const __m512i sums = _mm512_sad_epu8(_mm512_maskz_mov_epi8(masks.deltas, c.bytes), _mm512_setzero_si512());
            position = _mm512_add_epi32(position, _mm512_set1_epi32(static_cast<int>(_mm512_reduce_add_epi64(sums))));
        } else if (masks.longs == 0) {
            k = decode_groups<false>(out, k, c.bytes, c.next, masks, position);
        } else {
            k = decode_groups<true>(out, k, c.bytes, c.next, masks, position);
        }
        if (plan.stop) {
            break;
        }
        carried = plan.spill;
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
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
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
