#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace orvanta {

// Largest |sample| of `count` samples (0 for none); NaN samples are passed over. Eight running maxima
// let the loop vectorise, and the maximum is the same in any order. Any thread; never throws.
inline float largestMagnitude(const float* samples, size_t count) noexcept {
    float lanes[8] = {};
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (size_t j = 0; j < 8; ++j) lanes[j] = std::max(lanes[j], std::fabs(samples[i + j]));
    }
    float peak = 0.0f;
    for (float lane : lanes) peak = std::max(peak, lane);
    for (; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

} // namespace orvanta
