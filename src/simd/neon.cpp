// SPDX-License-Identifier: ISC
// The engine for aarch64, with NEON.

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "layout.h"
#include "simd/neon.h"

namespace neon {
#include "engine_body.h"
} // namespace neon
