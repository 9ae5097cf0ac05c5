// SPDX-License-Identifier: ISC
// The engine for x86-64 processors with AVX-512BW; this file alone is compiled with AVX-512 switched on.

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "layout.h"
#include "simd/avx512.h"

namespace avx512 {
#include "engine_body.h"
} // namespace avx512
