// SPDX-License-Identifier: ISC
// The vector layer for x86-64 processors with AVX-512BW: sixty-four lanes,
// compares into mask registers, and pshufb's table look-up.  Compiled only
// into the engine built with AVX-512F and AVX-512BW switched on, which the
// program uses only where the processor has both.

#ifndef KEPSIFT_SIMD_AVX512_H
#define KEPSIFT_SIMD_AVX512_H

#include <cstdint>

#include <immintrin.h>

namespace avx512 {

inline constexpr const char* NAME = "avx512";
inline constexpr int WIDTH = 64;
#include "simd/vector_unit.h"

// A bit for each lane, lane 0 the lowest: a mask register as it is.
using lane_bits = std::uint64_t;
inline constexpr int BITS_PER_LANE = 1;

inline __m512i native(bytes lanes) { return reinterpret_cast<__m512i>(lanes); }

// Lanes of 64 bits, which GCC 12 moves and rearranges with no intrinsic:
// its intrinsics that leave lanes undefined warn that a variable is used
// uninitialised where they are inlined.
using quads = std::uint64_t __attribute__((vector_size(WIDTH)));
inline quads quads_of(bytes lanes) { return reinterpret_cast<quads>(lanes); }

// The lanes of a vector of all-ones or all-zeros lanes that are all ones.
inline lane_bits lanes_set(bytes lanes) { return _mm512_movepi8_mask(native(lanes)); }

inline bool any(bytes lanes) { return _mm512_test_epi64_mask(native(lanes), native(lanes)) != 0; }

// The sum of all lanes: psadbw adds each eighth's eight bytes, and the
// eight sums are added in halves.
inline int byte_sum(bytes lanes) {
    const auto sums = reinterpret_cast<quads>(_mm512_sad_epu8(native(lanes), _mm512_setzero_si512()));
    const auto fours =
        __builtin_shufflevector(sums, sums, 0, 1, 2, 3) + __builtin_shufflevector(sums, sums, 4, 5, 6, 7);
    const auto twos =
        __builtin_shufflevector(fours, fours, 0, 1) + __builtin_shufflevector(fours, fours, 2, 3);
    return static_cast<int>(twos[0] + twos[1]);
}

// The lanes of a and b, from a's second lane on: palignr shifts within each
// 128-bit quarter, so each quarter of a is put beside the next one, and the
// last beside b's first.
inline bytes one_lane_on(bytes a, bytes b) {
    const quads next = __builtin_shufflevector(quads_of(a), quads_of(b), 2, 3, 4, 5, 6, 7, 8, 9);
    return reinterpret_cast<bytes>(_mm512_alignr_epi8(reinterpret_cast<__m512i>(next), native(a), 1));
}

// Each lane's entry in a table of sixteen, by the lane's low four bits; a
// lane of 128 or more gets 0.  pshufb looks up within each 128-bit quarter,
// so the table is in all four.
inline constexpr bool HAS_LOOKUP = true;
inline bytes lookup16(const std::uint8_t (&table)[16], bytes index) {
    std::uint64_t halves __attribute__((vector_size(16)));
    __builtin_memcpy(&halves, table, sizeof halves);
    const quads entries = __builtin_shufflevector(halves, halves, 0, 1, 0, 1, 0, 1, 0, 1);
    return reinterpret_cast<bytes>(_mm512_shuffle_epi8(reinterpret_cast<__m512i>(entries), native(index)));
}

// The lesser of a and b in each lane.
inline bytes lowest(bytes a, bytes b) {
    return reinterpret_cast<bytes>(_mm512_min_epu8(native(a), native(b)));
}

// The check of a candidate pair is compiled into the search (see
// pair_passes in the engine).
inline constexpr bool CHECK_IN_SEARCH = true;

} // namespace avx512

#endif
