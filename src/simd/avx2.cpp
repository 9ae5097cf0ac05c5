// SPDX-License-Identifier: ISC
// The engine for x86-64 processors with AVX2; this file alone is compiled with AVX2 switched on.

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "layout.h"
#include "simd/avx2.h"

namespace avx2 {
#include "engine_body.h"
} // namespace avx2
