// SPDX-License-Identifier: ISC
// The engines this build holds, and the one place that asks the processor
// which of them it can run.  The build says which engines it compiled.

#include <cstring>

#include "engine.h"

#ifdef KEPSIFT_ENGINE_AVX512
namespace avx512 {
extern const engine ENGINE;
}
#endif
#ifdef KEPSIFT_ENGINE_AVX2
namespace avx2 {
extern const engine ENGINE;
}
#endif
#ifdef KEPSIFT_ENGINE_SSE2
namespace sse2 {
extern const engine ENGINE;
}
#endif
#ifdef KEPSIFT_ENGINE_NEON
namespace neon {
extern const engine ENGINE;
}
#endif
#ifdef KEPSIFT_ENGINE_GENERIC
namespace generic {
extern const engine ENGINE;
}
#endif

namespace {

// The best first: the first that runs here is the one used.
const engine* const BUILT[] = {
#ifdef KEPSIFT_ENGINE_AVX512
    &avx512::ENGINE,
#endif
#ifdef KEPSIFT_ENGINE_AVX2
    &avx2::ENGINE,
#endif
#ifdef KEPSIFT_ENGINE_SSE2
    &sse2::ENGINE,
#endif
#ifdef KEPSIFT_ENGINE_NEON
    &neon::ENGINE,
#endif
#ifdef KEPSIFT_ENGINE_GENERIC
    &generic::ENGINE,
#endif
};

const engine& best_engine() {
    for (const engine* candidate : BUILT)
        if (runs_here(*candidate)) return *candidate;
    // A build limited to an engine this processor lacks: it is used all the
    // same, and the program says so before it starts.
    return *BUILT[0];
}

} // namespace

std::span<const engine* const> built_engines() { return BUILT; }

bool runs_here(const engine& candidate) {
#ifdef KEPSIFT_ENGINE_AVX512
    // Every instruction set the engine's object is compiled for: the
    // answers also say whether the system saves the mask and vector
    // registers.
    if (&candidate == &avx512::ENGINE) {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
               __builtin_cpu_supports("bmi") != 0 && __builtin_cpu_supports("bmi2") != 0;
    }
#endif
#ifdef KEPSIFT_ENGINE_AVX2
    if (&candidate == &avx2::ENGINE) {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("bmi") != 0 &&
               __builtin_cpu_supports("bmi2") != 0;
    }
#endif
    (void)candidate;
    return true;
}

const engine* engine_in_use = &best_engine();

bool use_engine(const char* name) {
    for (const engine* candidate : BUILT) {
        if (std::strcmp(candidate->name, name) == 0 && runs_here(*candidate)) {
            engine_in_use = candidate;
            return true;
        }
    }
    return false;
}
