// SPDX-License-Identifier: ISC
// The vector layer for aarch64, whose baseline has NEON: sixteen lanes and
// the tbl table look-up.  NEON has no instruction that gathers one bit a
// lane, so a lane set is the narrowing shift of the compare result by four:
// four bits a lane, of which the top one is kept.

#ifndef KEPSIFT_SIMD_NEON_H
#define KEPSIFT_SIMD_NEON_H

#include <cstdint>

#include <arm_neon.h>

namespace neon {

inline constexpr const char* NAME = "neon";
inline constexpr int WIDTH = 16;
#include "simd/vector_unit.h"

// Four bits for each lane, lane 0 the lowest; only the top one is set.
using lane_bits = std::uint64_t;
inline constexpr int BITS_PER_LANE = 4;

inline uint8x16_t native(bytes lanes) { return reinterpret_cast<uint8x16_t>(lanes); }

// The lanes of a vector of all-ones or all-zeros lanes that are all ones.
inline lane_bits lanes_set(bytes lanes) {
    const uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(native(lanes)), 4);
    return vget_lane_u64(vreinterpret_u64_u8(narrowed), 0) & 0x8888888888888888U;
}

inline bool any(bytes lanes) { return vmaxvq_u32(vreinterpretq_u32_u8(native(lanes))) != 0; }

inline int byte_sum(bytes lanes) { return vaddlvq_u8(native(lanes)); }

// The lanes of a and b, from a's second lane on.
inline bytes one_lane_on(bytes a, bytes b) {
    return reinterpret_cast<bytes>(vextq_u8(native(a), native(b), 1));
}

// Each lane's entry in a table of sixteen, by the lane's low four bits.
// tbl gives 0 for an index past the table, so the high bits are cleared.
inline constexpr bool HAS_LOOKUP = true;
inline bytes lookup16(const std::uint8_t (&table)[16], bytes index) {
    return reinterpret_cast<bytes>(vqtbl1q_u8(vld1q_u8(table), native(index & 15)));
}

// The lesser of a and b in each lane.
inline bytes lowest(bytes a, bytes b) { return reinterpret_cast<bytes>(vminq_u8(native(a), native(b))); }

// The check of a candidate pair is called from the search (see
// pair_passes in the engine).
inline constexpr bool CHECK_IN_SEARCH = false;

} // namespace neon

#endif
