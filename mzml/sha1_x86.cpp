#include "sha1.hpp"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#define MZML_SHA __attribute__((target("sha,sse4.1,ssse3")))
#define MZML_SHA_INLINE MZML_SHA __attribute__((always_inline)) inline

namespace mzml {
namespace {

// Four rounds per group; the instructions keep A..D in one register and E
// folded into the next group's message words.
template <int G>
MZML_SHA_INLINE void round_group(__m128i& abcd, __m128i& before, __m128i& e, __m128i (&w)[4])
{
    if constexpr (G >= 4) {
        w[G % 4] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w[G % 4], w[(G + 1) % 4]), w[(G + 2) % 4]),
                                      w[(G + 3) % 4]);
    }
    if constexpr (G > 0) {
        e = _mm_sha1nexte_epu32(before, w[G % 4]);
    }
    before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
}

template <int... G>
MZML_SHA_INLINE void all_groups(__m128i& abcd, __m128i& before, __m128i& e, __m128i (&w)[4],
                                std::integer_sequence<int, G...>)
{
    (round_group<G>(abcd, before, e, w), ...);
}

}  // namespace

MZML_SHA void sha1_compress_x86(std::uint32_t state[5], const unsigned char* blocks, std::size_t count)
{
    // Big-endian words, the first in the highest lane.
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (std::size_t b = 0; b < count; ++b, blocks += 64) {
        const __m128i abcd_saved = abcd;
        const __m128i e_saved = e0;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), reverse);
        }
        __m128i e = _mm_add_epi32(e0, w[0]);
        __m128i before = abcd;
        all_groups(abcd, before, e, w, std::make_integer_sequence<int, 20>{});
        e0 = _mm_sha1nexte_epu32(before, e_saved);
        abcd = _mm_add_epi32(abcd, abcd_saved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

bool sha1_x86_available()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return false;
    }
    const bool sse41_ssse3 = (c & bit_SSE4_1) != 0 && (c & bit_SSSE3) != 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
        return false;
    }
    return sse41_ssse3 && (b & bit_SHA) != 0;
}

}  // namespace mzml

#else

namespace mzml {

void sha1_compress_x86(std::uint32_t*, const unsigned char*, std::size_t) {}
bool sha1_x86_available() { return false; }

}  // namespace mzml

#endif
