#pragma once

// The one biquad of the engine: its coefficients, its memory, the step every filter runs, and the
// designs that give every filter its coefficients (crossovers, EQ bands, the high cut, K-weighting).

namespace orvanta {

// One biquad section with a0 normalised to 1.
struct BiquadCoefficients {
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

    bool operator==(const BiquadCoefficients&) const = default;
};

// Direct-form-I memory of one biquad on one channel.
struct FilterState {
    float x1 = 0, x2 = 0; // previous inputs
    float y1 = 0, y2 = 0; // previous outputs
};

// One step in single precision and in the vector library's order: y = b0·x + b1·x1 + b2·x2 − a1·y1 −
// a2·y2, evaluated left to right. Every filter runs this step (the vector lanes of engine/VectorBiquad.h
// repeat it operation for operation), so a filter computed in different places gives the same bits.
// Any thread; no allocation.
inline float biquadStep(const BiquadCoefficients& k, FilterState& m, float x) noexcept {
    const float y = k.b0 * x + k.b1 * m.x1 + k.b2 * m.x2 - k.a1 * m.y1 - k.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

// Second-order Butterworth low-pass and high-pass (Q = 1/√2) at `cornerHz`, single precision. Two
// in cascade make a Linkwitz-Riley filter of 4th order. The corner must lie below Nyquist (callers
// keep it there). Pure; any thread.
BiquadCoefficients butterworthLowPass(float cornerHz, float sampleRate) noexcept;
BiquadCoefficients butterworthHighPass(float cornerHz, float sampleRate) noexcept;
// The second-order all-pass that the 4th-order Linkwitz-Riley low-pass and high-pass of one corner
// sum to, from that corner's Butterworth low-pass.
BiquadCoefficients linkwitzRileyAllPass(const BiquadCoefficients& butterworthLowPass) noexcept;

// Peaking EQ band (cookbook form): `gainDb` at `centreHz`, width `q`; single precision.
BiquadCoefficients peakingEQ(float centreHz, float gainDb, float q, float sampleRate) noexcept;

// The two stages of the BS.1770 K-weighting: a high-pass near 38 Hz, then a +4 dB shelf above 1.7 kHz.
struct KWeightingCoefficients {
    BiquadCoefficients highPass;
    BiquadCoefficients shelf;
};
// At exactly 48 kHz the standard's own coefficients as single-precision values; at any other rate
// designKWeighting(sampleRate). Pure; any thread.
KWeightingCoefficients kWeightingCoefficients(double sampleRate);
// The K-weighting designed from its analog prototype by the bilinear transform, prewarped at each
// stage's corner, computed in double precision and rounded to float. At 48 kHz it matches the
// standard's table within float rounding. Pure; any thread.
KWeightingCoefficients designKWeighting(double sampleRate);

} // namespace orvanta
