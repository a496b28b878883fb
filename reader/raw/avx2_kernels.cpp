#include "payload_kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstring>
#include <type_traits>

#include "chunk_plan.hpp"
#include "opcode_rules.hpp"

#define TARVOK_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define TARVOK_AVX2_INLINE TARVOK_AVX2 __attribute__((always_inline)) inline

namespace tarvok::raw {
namespace {

// A chunk is read with the 8 bytes behind it, for the operands of its last
// opcodes; the chunks near the end are copied out first.
constexpr std::size_t chunk_read = chunk + 8;
// A position below this stays below 2^31 through a chunk of deltas.
constexpr std::uint32_t chunk_position_limit = 0x80000000U - chunk * layout::last_delta_opcode;

// For each 8-bit lane mask, the lanes it keeps moved to the front in order.
struct CompressTable {
    std::uint64_t lanes[256];

    constexpr CompressTable() : lanes{}
    {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned kept = 0;
            for (unsigned lane = 0; lane < 8; ++lane) {
                if ((mask >> lane & 1U) != 0) {
                    lanes[mask] |= std::uint64_t{lane} << (8 * kept++);
                }
            }
        }
    }
};
constexpr CompressTable compress_table;

TARVOK_AVX2_INLINE __m256i compress(__m256i lanes, __m256i index)
{
    return _mm256_permutevar8x32_epi32(lanes, index);
}

TARVOK_AVX2_INLINE __m256i compress_index(unsigned keep)
{
    return _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(compress_table.lanes[keep])));
}

struct PointOut {
    ScanPoint* points;
};

struct PeakOut {
    double* mz;
    float* intensity;
};

template <bool Signed>
TARVOK_AVX2_INLINE std::size_t emit(const PointOut& out, std::size_t k, unsigned keep, __m256i position,
                                    __m256i value)
{
    const __m256i index = compress_index(keep);
    const __m256i p = compress(position, index);
    const __m256i v = compress(value, index);
    const __m256i first = _mm256_unpacklo_epi32(p, v);  // points 0, 1 | 4, 5
    const __m256i second = _mm256_unpackhi_epi32(p, v);  // points 2, 3 | 6, 7
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.points + k), _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.points + k + 4),
                        _mm256_permute2x128_si256(first, second, 0x31));
    return k + static_cast<std::size_t>(std::popcount(keep));
}

template <bool Signed>
TARVOK_AVX2_INLINE std::size_t emit(const PeakOut& out, std::size_t k, unsigned keep, __m256i position,
                                    __m256i value)
{
    const __m256i zero_lanes = _mm256_cmpeq_epi32(value, _mm256_setzero_si256());
    keep &= ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(zero_lanes)));
    const __m256i index = compress_index(keep);
    const __m256i p = compress(position, index);
    const __m256i v = compress(value, index);
    if constexpr (Signed) {
        _mm256_storeu_pd(out.mz + k, _mm256_cvtepi32_pd(_mm256_castsi256_si128(p)));
        _mm256_storeu_pd(out.mz + k + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(p, 1)));
        _mm256_storeu_ps(out.intensity + k, _mm256_cvtepi32_ps(v));
        return k + static_cast<std::size_t>(std::popcount(keep));
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
    return k + static_cast<std::size_t>(std::popcount(keep));
}

// One group of 8 bytes: positions as the running position plus a prefix sum
// of the delta bytes (at most 8 × 127, so 16-bit lanes hold it), values from
// the opcode or its operand.
template <int Group, bool HasLongs, bool Signed, class Out>
TARVOK_AVX2_INLINE std::size_t decode_group(const Out& out, std::size_t k, const std::uint8_t* bytes,
                                            __m128i delta_bytes, const ChunkMasks& masks, __m256i& position)
{
    constexpr unsigned at = 8 * Group;
    // The group's bytes and the 8 behind them.
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    const auto group_bits = [](std::uint64_t mask) { return static_cast<unsigned>(mask >> at) & 0xFFU; };

    __m128i sum = _mm_cvtepu8_epi16(delta_bytes);
    sum = _mm_add_epi16(sum, _mm_slli_si128(sum, 2));
    sum = _mm_add_epi16(sum, _mm_slli_si128(sum, 4));
    sum = _mm_add_epi16(sum, _mm_slli_si128(sum, 8));
    const __m256i positions = _mm256_add_epi32(_mm256_cvtepu16_epi32(sum), position);
    position = _mm256_permutevar8x32_epi32(positions, _mm256_set1_epi32(7));

    const __m256i opcode = _mm256_cvtepu8_epi32(raw);
    __m256i value = _mm256_and_si256(opcode, _mm256_set1_epi32(layout::short_intensity_bits));
    if constexpr (HasLongs) {
        // Bytes 1 to 4 behind each byte, cut to the opcode's operand length.
        const __m256i operand_index = _mm256_setr_epi8(1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6, 7, 5, 6, 7, 8, 6, 7,
                                                       8, 9, 7, 8, 9, 10, 8, 9, 10, 11);
        const __m256i operand = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(raw), operand_index);
        // The low 3 bits of FC to FF are 4 to 7: they pick the operand's mask.
        static_assert((first_long_opcode & 7U) == 4U);
        const __m256i operand_masks = _mm256_setr_epi32(0, 0, 0, 0, 0xFF, 0xFFFF, 0xFFFFFF, -1);
        const __m256i wide = _mm256_and_si256(operand, _mm256_permutevar8x32_epi32(operand_masks, opcode));
        // Only points are emitted, and a point's byte is a long opcode exactly
        // when it is FC or above: operand bytes may pass this test unharmed.
        const __m256i long_lanes = _mm256_cmpgt_epi32(opcode, _mm256_set1_epi32(first_long_opcode - 1));
        value = _mm256_blendv_epi8(value, wide, long_lanes);
    }
    return emit<Signed>(out, k, group_bits(masks.points), positions, value);
}

// The bytes whose bit is set in `mask`, the others zero.
TARVOK_AVX2_INLINE __m256i bytes_of(__m256i bytes, std::uint32_t mask)
{
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(mask)),
                                               _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                                                2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ULL));
    return _mm256_and_si256(bytes, _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit));
}

template <bool HasLongs, bool Signed, class Out>
TARVOK_AVX2_INLINE std::size_t decode_groups(const Out& out, std::size_t k, const std::uint8_t* bytes,
                                             __m256i low, __m256i high, const ChunkMasks& masks,
                                             __m256i& position)
{
    const __m256i low_deltas = bytes_of(low, static_cast<std::uint32_t>(masks.deltas));
    const __m256i high_deltas = bytes_of(high, static_cast<std::uint32_t>(masks.deltas >> 32U));
    const __m128i d0 = _mm256_castsi256_si128(low_deltas);
    const __m128i d1 = _mm256_extracti128_si256(low_deltas, 1);
    const __m128i d2 = _mm256_castsi256_si128(high_deltas);
    const __m128i d3 = _mm256_extracti128_si256(high_deltas, 1);
    k = decode_group<0, HasLongs, Signed>(out, k, bytes, d0, masks, position);
    k = decode_group<1, HasLongs, Signed>(out, k, bytes, _mm_srli_si128(d0, 8), masks, position);
    k = decode_group<2, HasLongs, Signed>(out, k, bytes, d1, masks, position);
    k = decode_group<3, HasLongs, Signed>(out, k, bytes, _mm_srli_si128(d1, 8), masks, position);
    k = decode_group<4, HasLongs, Signed>(out, k, bytes, d2, masks, position);
    k = decode_group<5, HasLongs, Signed>(out, k, bytes, _mm_srli_si128(d2, 8), masks, position);
    k = decode_group<6, HasLongs, Signed>(out, k, bytes, d3, masks, position);
    return decode_group<7, HasLongs, Signed>(out, k, bytes, _mm_srli_si128(d3, 8), masks, position);
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

template <class Out>
TARVOK_AVX2 std::size_t decode(std::span<const std::uint8_t> input, const Out& out)
{
    const std::uint8_t* b = input.data();
    const std::size_t n = input.size();
    // Zeros past the input; the valid mask keeps them out of every decision.
    std::uint8_t tail[chunk_read + 8];
    __m256i position = _mm256_setzero_si256();
    std::uint64_t carried = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; i += chunk) {
        const std::size_t left = n - i;
        const std::uint8_t* bytes = b + i;
        if (left < chunk_read) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, bytes, left);
            bytes = tail;
        }
        const std::uint64_t valid = left >= chunk ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
        const __m256i high_half = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
        const std::uint64_t high = mask_of(low, high_half) & valid;
        const std::uint64_t longs = bytes_at_least(low, high_half, first_long_opcode) & valid & ~carried;
        const LongBytes long_bytes{longs, bytes_at_least(low, high_half, 0xFD) & valid & ~carried,
                                   bytes_at_least(low, high_half, 0xFE) & valid & ~carried,
                                   bytes_at_least(low, high_half, 0xFF) & valid & ~carried};
        const ChunkPlan plan = plan_chunk(b, n, i, long_bytes, carried, valid, left >= chunk_reach);
        const ChunkMasks masks = chunk_masks(high, longs, plan);
        // Below 2^31 the signed conversions give the unsigned values, rounded
        // alike. Only an FF opcode's operand reaches that high, and the
        // position grows by less than 2^13 in a chunk.
        const bool small = std::is_same_v<Out, PeakOut> && (masks.longs & long_bytes.four) == 0 &&
                           static_cast<std::uint32_t>(_mm256_cvtsi256_si32(position)) < chunk_position_limit;
        if (masks.longs == 0) {
            k = small ? decode_groups<false, true>(out, k, bytes, low, high_half, masks, position)
                      : decode_groups<false, false>(out, k, bytes, low, high_half, masks, position);
        } else if (small) {
            k = decode_groups<true, true>(out, k, bytes, low, high_half, masks, position);
        } else {
            k = decode_groups<true, false>(out, k, bytes, low, high_half, masks, position);
        }
        if (plan.stop) {
            break;
        }
        carried = plan.spill;
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
