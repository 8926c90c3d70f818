#pragma once

#include <cmath>
#include <cstddef>

namespace orvanta::vector_math {

// Single-precision reductions of the analyzer. Eight interleaved partial sums keep the rounding
// error of long sums small (as a vector unit's lanes do) and let the compiler vectorise the loop
// without reassociating anything itself. Any thread; never throw.

inline float sumOfSquares(const float* x, size_t n) noexcept {
    float lanes[8] = {};
    const size_t full = n & ~size_t(7);
    for (size_t i = 0; i < full; i += 8) {
        for (size_t l = 0; l < 8; ++l) {
            lanes[l] += x[i + l] * x[i + l];
        }
    }
    for (size_t l = 0; l < (n & 7); ++l) {
        lanes[l] += x[full + l] * x[full + l];
    }
    return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

inline float dotProduct(const float* a, const float* b, size_t n) noexcept {
    float lanes[8] = {};
    const size_t full = n & ~size_t(7);
    for (size_t i = 0; i < full; i += 8) {
        for (size_t l = 0; l < 8; ++l) {
            lanes[l] += a[i + l] * b[i + l];
        }
    }
    for (size_t l = 0; l < (n & 7); ++l) {
        lanes[l] += a[full + l] * b[full + l];
    }
    return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// Largest |x|; 0 for an empty range.
inline float maxMagnitude(const float* x, size_t n) noexcept {
    float peak = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        const float m = std::fabs(x[i]);
        peak = m > peak ? m : peak;
    }
    return peak;
}

// sqrt(Σx² ÷ n); 0 for an empty range.
inline float rms(const float* x, size_t n) noexcept {
    return n == 0 ? 0.0f : std::sqrt(sumOfSquares(x, n) / float(n));
}

} // namespace orvanta::vector_math
