// SPDX-License-Identifier: ISC
// The vector layer on x86-64's baseline, SSE2: sixteen lanes.  SSE2 has no
// table look-up, so the engine tests classes by byte ranges.

#ifndef KEPSIFT_SIMD_SSE2_H
#define KEPSIFT_SIMD_SSE2_H

#include <cstdint>

#include <emmintrin.h>

namespace sse2 {

inline constexpr const char* NAME = "sse2";
inline constexpr int WIDTH = 16;
#include "simd/vector_unit.h"

// A bit for each lane, lane 0 the lowest.
using lane_bits = std::uint32_t;
inline constexpr int BITS_PER_LANE = 1;

// The lanes of a vector of all-ones or all-zeros lanes that are all ones.
inline lane_bits lanes_set(bytes lanes) {
    return static_cast<lane_bits>(_mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)));
}

inline bool any(bytes lanes) { return lanes_set(lanes) != 0; }

// The lanes that hold a or b.  (Only the first of them need be right.)
inline lane_bits lanes_from_first_holding(bytes lanes, std::uint8_t a, std::uint8_t b) {
    return lanes_set(equal(lanes, bytes{} + a) | equal(lanes, bytes{} + b));
}

// The sum of all lanes: psadbw adds each half's eight bytes.
inline int byte_sum(bytes lanes) {
    const __m128i halves = _mm_sad_epu8(reinterpret_cast<__m128i>(lanes), _mm_setzero_si128());
    return _mm_cvtsi128_si32(halves) + _mm_extract_epi16(halves, 4);
}

// The lanes of a and b, from a's second lane on.
inline bytes one_lane_on(bytes a, bytes b) {
    return reinterpret_cast<bytes>(_mm_or_si128(_mm_srli_si128(reinterpret_cast<__m128i>(a), 1),
                                                _mm_slli_si128(reinterpret_cast<__m128i>(b), 15)));
}

inline constexpr bool HAS_LOOKUP = false;

// The check of a candidate pair is called from the search (see
// pair_passes in the engine).
inline constexpr bool CHECK_IN_SEARCH = false;

} // namespace sse2

#endif
