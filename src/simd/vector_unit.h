// SPDX-License-Identifier: ISC
// The byte vector and its compares, for a layer whose processor has a
// vector unit: the compiler compares the vector type with its instructions.
// Included inside the layer's namespace, once its WIDTH is set.

using bytes = std::uint8_t __attribute__((vector_size(WIDTH)));

// All ones in the lanes where a equals b, or is at most b; zeros elsewhere.
inline bytes equal(bytes a, bytes b) { return reinterpret_cast<bytes>(a == b); }
inline bytes at_most(bytes a, bytes b) { return reinterpret_cast<bytes>(a <= b); }
