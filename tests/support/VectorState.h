#pragma once

// Some of Qt's AVX2 raster routines (the span fills behind QImage::fill and line drawing) return
// without VZEROUPPER, so after a widget is shown, painted or destroyed the upper halves of the vector
// registers stay in use on that thread. On recent Intel cores every legacy-SSE instruction then pays a
// merge with those halves: the song synthesizer ran 10x slower on the main thread after a window test.
// Tests that compute on the main thread after driving widgets clear that state first. Only AVX2
// code leaves it behind, so only an AVX2 processor has it to clear.

#include "engine/CpuFeatures.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace orvanta::test {

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx")]] inline void zeroUpperHalves() noexcept { _mm256_zeroupper(); }
#endif

inline void releaseVectorUpperHalves() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    if (hasAvx2()) zeroUpperHalves();
#endif
}

} // namespace orvanta::test
