#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

// ω = 2π·f/fs with 2π as the single-precision constant the filters were tuned with.
float angularFrequency(float hz, float sampleRate) noexcept { return 6.283185f * hz / sampleRate; }

// sin ω / (2Q) with Q = 1/√2.
float butterworthAlpha(float w) noexcept { return std::sin(w) / 1.4142135f; }

} // namespace

BiquadCoefficients butterworthLowPass(float cornerHz, float sampleRate) noexcept {
    const float w = angularFrequency(cornerHz, sampleRate);
    const float c = std::cos(w);
    const float alpha = butterworthAlpha(w);
    const float a0 = 1.0f + alpha;
    const float b0 = (1.0f - c) * 0.5f / a0;
    return {b0, (1.0f - c) / a0, b0, -2.0f * c / a0, (1.0f - alpha) / a0};
}

BiquadCoefficients butterworthHighPass(float cornerHz, float sampleRate) noexcept {
    const float w = angularFrequency(cornerHz, sampleRate);
    const float c = std::cos(w);
    const float alpha = butterworthAlpha(w);
    const float a0 = 1.0f + alpha;
    const float b0 = (1.0f + c) * 0.5f / a0;
    return {b0, -(1.0f + c) / a0, b0, -2.0f * c / a0, (1.0f - alpha) / a0};
}

BiquadCoefficients linkwitzRileyAllPass(const BiquadCoefficients& lowPass) noexcept {
    // LR4 low-pass + LR4 high-pass = (1 − α − 2c·z⁻¹ + (1 + α)·z⁻²) / (1 + α − 2c·z⁻¹ + (1 − α)·z⁻²):
    // the denominator's coefficients mirrored into the numerator.
    return {lowPass.a2, lowPass.a1, 1.0f, lowPass.a1, lowPass.a2};
}

BiquadCoefficients peakingEQ(float centreHz, float gainDb, float q, float sampleRate) noexcept {
    const float w0 = angularFrequency(centreHz, sampleRate);
    const float sn = std::sin(w0);
    const float cs = std::cos(w0);
    const float A = std::pow(10.0f, gainDb / 40.0f);
    const float alpha = sn / (q + q);
    const float a0 = 1.0f + alpha / A;
    return {(1.0f + alpha * A) / a0, -2.0f * cs / a0, (1.0f - alpha * A) / a0, -2.0f * cs / a0,
            (1.0f - alpha / A) / a0};
}

namespace {

// The standard's 48 kHz coefficients, exactly as single-precision values.
constexpr KWeightingCoefficients standardAt48kHz = {
    {1.0f, -2.0f, 1.0f, -1.9900474548339844f, 0.9900722503662109f},
    {1.5351248979568481f, -2.6916961669921875f, 1.1983928680419922f, -1.6906592845916748f, 0.7324807643890381f},
};

// Analog prototype of the two stages (corner frequency in Hz, quality factor, shelf gain in dB),
// the parameters that reproduce the standard's 48 kHz table.
constexpr double shelfHz = 1681.974450955533;
constexpr double shelfGainDb = 3.999843853973347;
constexpr double shelfQ = 0.7071752369554196;
constexpr double shelfSlopeExponent = 0.4996667741545416; // Vb = Vh^this, close to √Vh
constexpr double highPassHz = 38.13547087602444;
constexpr double highPassQ = 0.5003270373238773;

// A corner at or past Nyquist has no place on the unit circle: tan() turns negative there and the
// section goes unstable. Only rates under about 3.7 kHz need this; their shelf sits at the band edge.
double cornerBelowNyquist(double cornerHz, double sampleRate) { return std::min(cornerHz, 0.45 * sampleRate); }

BiquadCoefficients rounded(double b0, double b1, double b2, double a0, double a1, double a2) {
    return {float(b0 / a0), float(b1 / a0), float(b2 / a0), float(a1 / a0), float(a2 / a0)};
}

} // namespace

KWeightingCoefficients designKWeighting(double sampleRate) {
    // s = (1/K)·(1 − z⁻¹)/(1 + z⁻¹) with K = tan(π·f0/fs) maps the corner frequency exactly.
    KWeightingCoefficients k;
    {
        // H(s) = (Vh·s² + Vb·s/Q + 1) / (s² + s/Q + 1): gain 1 below the corner, Vh above it, and Vb
        // sets the slope between.
        const double K = std::tan(M_PI * cornerBelowNyquist(shelfHz, sampleRate) / sampleRate);
        const double Vh = std::pow(10.0, shelfGainDb / 20.0);
        const double Vb = std::pow(Vh, shelfSlopeExponent);
        const double KQ = K / shelfQ;
        k.shelf = rounded(Vh + Vb * KQ + K * K, 2.0 * (K * K - Vh), Vh - Vb * KQ + K * K, //
                          1.0 + KQ + K * K, 2.0 * (K * K - 1.0), 1.0 - KQ + K * K);
    }
    {
        // H(s) = G·s² / (s² + s/Q + 1). The standard's 48 kHz table keeps the numerator at (1, −2, 1)
        // instead of dividing it by a0, a passband gain G = a0 at 48 kHz (+0.04 dB); every rate gets
        // that same G, so the curve does not move with the rate.
        const auto a0At = [](double rate) {
            const double K = std::tan(M_PI * highPassHz / rate);
            return 1.0 + K / highPassQ + K * K;
        };
        const double K = std::tan(M_PI * cornerBelowNyquist(highPassHz, sampleRate) / sampleRate);
        const double KQ = K / highPassQ;
        const double gain = a0At(48000.0);
        k.highPass = rounded(gain, -2.0 * gain, gain, a0At(sampleRate), 2.0 * (K * K - 1.0), 1.0 - KQ + K * K);
    }
    return k;
}

KWeightingCoefficients kWeightingCoefficients(double sampleRate) {
    return sampleRate == 48000.0 ? standardAt48kHz : designKWeighting(sampleRate);
}

} // namespace orvanta
