// SPDX-License-Identifier: ISC
// The vector layer for every other processor: eight lanes, one machine
// word of 64 bits.  The compiler maps the vector type to what the
// processor has; where it has no vector unit, it adds and subtracts the
// lanes within the word, but compares them one lane at a time, so the
// compares here work on the whole word (the lanes' high bits carry each
// lane's result, and no carry crosses from one lane into the next).

#ifndef KEPSIFT_SIMD_GENERIC_H
#define KEPSIFT_SIMD_GENERIC_H

#include <cstdint>

namespace generic {

inline constexpr const char* NAME = "generic";

inline constexpr int WIDTH = 8;
using bytes = std::uint8_t __attribute__((vector_size(WIDTH)));

inline std::uint64_t word_of(bytes lanes) {
    std::uint64_t word;
    __builtin_memcpy(&word, &lanes, sizeof word);
    return word;
}

inline bytes bytes_of(std::uint64_t word) {
    bytes lanes;
    __builtin_memcpy(&lanes, &word, sizeof lanes);
    return lanes;
}

inline constexpr std::uint64_t HIGH_BITS = 0x8080808080808080U;
inline constexpr std::uint64_t LOW_SEVEN_BITS = 0x7F7F7F7F7F7F7F7FU;

// All ones in the lanes whose high bit is set.
inline bytes widened(std::uint64_t high_bits) { return bytes_of(high_bits | (high_bits - (high_bits >> 7))); }

// A lane is zero if neither its low seven bits, which cannot carry out of
// it when 0x7F is added, nor its high bit is set.
inline bytes equal(bytes a, bytes b) {
    const std::uint64_t difference = word_of(a) ^ word_of(b);
    const std::uint64_t nonzero = ((difference & LOW_SEVEN_BITS) + LOW_SEVEN_BITS) | difference;
    return widened(~nonzero & HIGH_BITS);
}

// a <= b where the high bits differ is b's high bit; where they agree, it
// is the high bit of (b's low seven bits + 128) - a's low seven bits, which
// cannot borrow from the next lane.
inline bytes at_most(bytes a, bytes b) {
    const std::uint64_t x = word_of(a);
    const std::uint64_t y = word_of(b);
    const std::uint64_t low_difference = (y | HIGH_BITS) - (x & LOW_SEVEN_BITS);
    return widened(((y & ~x) | (~(x ^ y) & low_difference)) & HIGH_BITS);
}

// Eight bits for each lane, lane 0 the lowest; only the top one is set.
using lane_bits = std::uint64_t;
inline constexpr int BITS_PER_LANE = 8;

// The lanes of a vector of all-ones or all-zeros lanes that are all ones.
// Lane 0 is the first byte in memory, the word's lowest on a little-endian
// processor and its highest on a big-endian one.
inline lane_bits lanes_set(bytes lanes) {
    const std::uint64_t high_bits = word_of(lanes) & HIGH_BITS;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap64(high_bits);
#else
    return high_bits;
#endif
}

inline bool any(bytes lanes) { return word_of(lanes) != 0; }

// The lanes that hold a or b, right up to the first that does; lanes after
// it may be set too.  A lane is zero, once a's or b's bytes are taken away,
// where subtracting one borrows into its high bit and the lane's own high
// bit was clear; a borrow moves only into later lanes, so the word is taken
// with lane 0 lowest.
inline lane_bits lanes_from_first_holding(bytes lanes, std::uint8_t a, std::uint8_t b) {
    constexpr std::uint64_t ONES = 0x0101010101010101U;
    std::uint64_t word = word_of(lanes);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    const std::uint64_t without_a = word ^ ONES * a;
    const std::uint64_t without_b = word ^ ONES * b;
    return (((without_a - ONES) & ~without_a) | ((without_b - ONES) & ~without_b)) & HIGH_BITS;
}

// The sum of all lanes: pairs of lanes into sixteen bits, which cannot
// overflow, then the four sums into the top sixteen by one multiply.
inline int byte_sum(bytes lanes) {
    constexpr std::uint64_t EVEN_LANES = 0x00FF00FF00FF00FFU;
    const std::uint64_t word = word_of(lanes);
    const std::uint64_t pairs = (word & EVEN_LANES) + (word >> 8 & EVEN_LANES);
    return static_cast<int>(pairs * 0x0001000100010001U >> 48);
}

// The lanes of a and b, from a's second lane on.
inline bytes one_lane_on(bytes a, bytes b) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return bytes_of(word_of(a) << 8 | word_of(b) >> 56);
#else
    return bytes_of(word_of(a) >> 8 | word_of(b) << 56);
#endif
}

inline constexpr bool HAS_LOOKUP = false;

// The check of a candidate pair is called from the search (see
// pair_passes in the engine).
inline constexpr bool CHECK_IN_SEARCH = false;

} // namespace generic

#endif
