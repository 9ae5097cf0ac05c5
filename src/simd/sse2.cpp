// SPDX-License-Identifier: ISC
// The engine for SSE2, the x86-64 baseline.

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "layout.h"
#include "simd/sse2.h"

namespace sse2 {
#include "engine_body.h"
} // namespace sse2
