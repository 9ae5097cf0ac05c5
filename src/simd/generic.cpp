// SPDX-License-Identifier: ISC
// The engine for any processor, with the vector type mapped by the compiler.

#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "layout.h"
#include "simd/generic.h"

namespace generic {
#include "engine_body.h"
} // namespace generic
