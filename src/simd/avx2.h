// SPDX-License-Identifier: ISC
// The vector layer for x86-64 processors with AVX2: thirty-two lanes, and
// pshufb's table look-up.  Compiled only into the engine built with AVX2
// switched on, which the program uses only where the processor has it.

#ifndef KEPSIFT_SIMD_AVX2_H
#define KEPSIFT_SIMD_AVX2_H

#include <cstdint>

#include <immintrin.h>

namespace avx2 {

inline constexpr const char* NAME = "avx2";
inline constexpr int WIDTH = 32;
#include "simd/vector_unit.h"

// A bit for each lane, lane 0 the lowest.
using lane_bits = std::uint32_t;
inline constexpr int BITS_PER_LANE = 1;

// The lanes of a vector of all-ones or all-zeros lanes that are all ones.
inline lane_bits lanes_set(bytes lanes) {
    return static_cast<lane_bits>(_mm256_movemask_epi8(reinterpret_cast<__m256i>(lanes)));
}

inline bool any(bytes lanes) {
    const auto vector = reinterpret_cast<__m256i>(lanes);
    return _mm256_testz_si256(vector, vector) == 0;
}

// The sum of all lanes: psadbw adds each quarter's eight bytes.
inline int byte_sum(bytes lanes) {
    const __m256i quarters = _mm256_sad_epu8(reinterpret_cast<__m256i>(lanes), _mm256_setzero_si256());
    const __m128i halves =
        _mm_add_epi64(_mm256_castsi256_si128(quarters), _mm256_extracti128_si256(quarters, 1));
    return _mm_cvtsi128_si32(halves) + _mm_extract_epi16(halves, 4);
}

// The lanes of a and b, from a's second lane on: palignr shifts within each
// 128-bit half, so the upper half of a and the lower of b are put beside it.
inline bytes one_lane_on(bytes a, bytes b) {
    const auto first = reinterpret_cast<__m256i>(a);
    const __m256i middle = _mm256_permute2x128_si256(first, reinterpret_cast<__m256i>(b), 0x21);
    return reinterpret_cast<bytes>(_mm256_alignr_epi8(middle, first, 1));
}

// Each lane's entry in a table of sixteen, by the lane's low four bits; a
// lane of 128 or more gets 0.  pshufb looks up within each 128-bit half, so
// the table is in both.
inline constexpr bool HAS_LOOKUP = true;
inline bytes lookup16(const std::uint8_t (&table)[16], bytes index) {
    const __m256i entries =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
    return reinterpret_cast<bytes>(_mm256_shuffle_epi8(entries, reinterpret_cast<__m256i>(index)));
}

// The lesser of a and b in each lane.
inline bytes lowest(bytes a, bytes b) {
    return reinterpret_cast<bytes>(
        _mm256_min_epu8(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
}

// The check of a candidate pair is compiled into the search (see
// pair_passes in the engine).
inline constexpr bool CHECK_IN_SEARCH = true;

} // namespace avx2

#endif
