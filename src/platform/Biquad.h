#pragma once

namespace orvanta {

// One step of a direct-form-I biquad section with a0 normalised to 1, in single precision and in the
// vector library's order: y = b0·x + b1·x1 + b2·x2 − a1·y1 − a2·y2, evaluated left to right. Every
// filter of the engine (K-weighting, crossovers, EQ bands) runs this step, so a filter computed in
// different places gives the same bits. `Coefficients` has b0, b1, b2, a1, a2; `Memory` has x1, x2
// (previous inputs) and y1, y2 (previous outputs). Any thread; no allocation.
template <class Coefficients, class Memory>
inline float biquadStep(const Coefficients& k, Memory& m, float x) noexcept {
    const float y = k.b0 * x + k.b1 * m.x1 + k.b2 * m.x2 - k.a1 * m.y1 - k.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

} // namespace orvanta
