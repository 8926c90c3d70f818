#pragma once

#include <cstddef>

namespace orvanta {

// One biquad section with a0 normalised to 1, in the order platform/Biquad.h evaluates it.
struct BiquadCoefficients {
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// The two stages of the BS.1770 K-weighting: a high-pass near 38 Hz, then a +4 dB shelf above 1.7 kHz.
struct KWeightingCoefficients {
    BiquadCoefficients highPass;
    BiquadCoefficients shelf;
};

// The K-weighting of a sample rate (Hz): at exactly 48 kHz the standard's own coefficients as
// single-precision values; at any other rate designKWeighting(sampleRate). Pure; any thread.
KWeightingCoefficients kWeightingCoefficients(double sampleRate);

// The K-weighting designed from its analog prototype by the bilinear transform, prewarped at each
// stage's corner frequency, computed in double precision and rounded to float. At 48 kHz it matches
// the standard's table within float rounding. Pure; any thread.
KWeightingCoefficients designKWeighting(double sampleRate);

// K-weighting of one channel: high-pass, then shelf, in single precision, state carried from one
// block to the next. Sized on construction; process() never allocates. Any thread, one at a time.
class KWeightingFilter {
public:
    // The shelf's input is the high-pass output, so the two stages share that history.
    struct Memory {
        float x1 = 0, x2 = 0; // previous inputs
        float m1 = 0, m2 = 0; // previous high-pass outputs
        float y1 = 0, y2 = 0; // previous outputs
    };

    explicit KWeightingFilter(double sampleRate) : coefficients_(kWeightingCoefficients(sampleRate)) {}

    // out[i] = K(in[i]) for n samples; out may equal in.
    void process(const float* in, float* out, size_t n) noexcept;
    void reset() noexcept { memory_ = {}; }

    // Two filters over their own channels, with the same results as two process() calls. When both
    // have the same coefficients the two channels run side by side in one vector, at about the cost
    // of one.
    static void processPair(KWeightingFilter& first, const float* firstIn, float* firstOut,
                            KWeightingFilter& second, const float* secondIn, float* secondOut, size_t n) noexcept;

private:
    KWeightingCoefficients coefficients_;
    Memory memory_;
};

} // namespace orvanta
