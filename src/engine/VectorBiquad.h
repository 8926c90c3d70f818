#pragma once

// Four biquads side by side in the lanes of one SSE vector: the vector form of platform/Biquad.h, the
// same single-precision operations in the same order as its scalar step, so a lane gives the same bits
// as a scalar filter fed the same samples. Coefficients come from the same designs.

#include "platform/Biquad.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace orvanta {

struct Biquad4 {
    __m128 b0, b1, b2, a1, a2;
};

struct Memory4 {
    __m128 x1, x2, y1, y2;
};

inline __m128 biquad4(const Biquad4& k, Memory4& m, __m128 x) {
    __m128 y = _mm_add_ps(_mm_mul_ps(k.b0, x), _mm_mul_ps(k.b1, m.x1));
    y = _mm_add_ps(y, _mm_mul_ps(k.b2, m.x2));
    y = _mm_sub_ps(y, _mm_mul_ps(k.a1, m.y1));
    y = _mm_sub_ps(y, _mm_mul_ps(k.a2, m.y2));
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

// Lanes from up to four scalar coefficient sets; missing lanes stay zero (they compute zeros).
inline Biquad4 gatherCoefficients(const BiquadCoefficients* lanes[4]) {
    alignas(16) float v[5][4] = {};
    for (int l = 0; l < 4; ++l) {
        if (lanes[l] == nullptr) continue;
        v[0][l] = lanes[l]->b0;
        v[1][l] = lanes[l]->b1;
        v[2][l] = lanes[l]->b2;
        v[3][l] = lanes[l]->a1;
        v[4][l] = lanes[l]->a2;
    }
    return {_mm_load_ps(v[0]), _mm_load_ps(v[1]), _mm_load_ps(v[2]), _mm_load_ps(v[3]), _mm_load_ps(v[4])};
}

} // namespace orvanta

#endif
