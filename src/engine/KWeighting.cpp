#include "engine/KWeighting.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace orvanta {

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

namespace {

// Both stages for one sample, each evaluated as platform/Biquad.h evaluates a section.
inline float kWeight(const KWeightingCoefficients& k, KWeightingFilter::Memory& s, float x) noexcept {
    const BiquadCoefficients& h = k.highPass;
    const BiquadCoefficients& g = k.shelf;
    const float m = h.b0 * x + h.b1 * s.x1 + h.b2 * s.x2 - h.a1 * s.m1 - h.a2 * s.m2;
    const float y = g.b0 * m + g.b1 * s.m1 + g.b2 * s.m2 - g.a1 * s.y1 - g.a2 * s.y2;
    s.x2 = s.x1;
    s.x1 = x;
    s.m2 = s.m1;
    s.m1 = m;
    s.y2 = s.y1;
    s.y1 = y;
    return y;
}

} // namespace

void KWeightingFilter::process(const float* in, float* out, size_t n) noexcept {
    const KWeightingCoefficients k = coefficients_;
    Memory s = memory_;
    for (size_t i = 0; i < n; ++i) out[i] = kWeight(k, s, in[i]);
    memory_ = s;
}

#if defined(__SSE2__)
namespace {

// Two channels with the same coefficients side by side in the lanes of one vector: lane by lane the
// same operations, in the same order, as kWeight().
void kWeightTwoLanes(const KWeightingCoefficients& k, KWeightingFilter::Memory& first,
                     KWeightingFilter::Memory& second, const float* firstIn, const float* secondIn,
                     float* firstOut, float* secondOut, size_t n) noexcept {
    const BiquadCoefficients& h = k.highPass;
    const BiquadCoefficients& g = k.shelf;
    const __m128 hb0 = _mm_set1_ps(h.b0), hb1 = _mm_set1_ps(h.b1), hb2 = _mm_set1_ps(h.b2);
    const __m128 ha1 = _mm_set1_ps(h.a1), ha2 = _mm_set1_ps(h.a2);
    const __m128 gb0 = _mm_set1_ps(g.b0), gb1 = _mm_set1_ps(g.b1), gb2 = _mm_set1_ps(g.b2);
    const __m128 ga1 = _mm_set1_ps(g.a1), ga2 = _mm_set1_ps(g.a2);
    const auto lanes = [](float a, float b) { return _mm_setr_ps(a, b, 0.0f, 0.0f); };
    __m128 x1 = lanes(first.x1, second.x1), x2 = lanes(first.x2, second.x2);
    __m128 m1 = lanes(first.m1, second.m1), m2 = lanes(first.m2, second.m2);
    __m128 y1 = lanes(first.y1, second.y1), y2 = lanes(first.y2, second.y2);
    for (size_t i = 0; i < n; ++i) {
        const __m128 x = _mm_unpacklo_ps(_mm_load_ss(firstIn + i), _mm_load_ss(secondIn + i));
        const __m128 m = _mm_sub_ps(
            _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(hb0, x), _mm_mul_ps(hb1, x1)), _mm_mul_ps(hb2, x2)),
                       _mm_mul_ps(ha1, m1)),
            _mm_mul_ps(ha2, m2));
        const __m128 y = _mm_sub_ps(
            _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(gb0, m), _mm_mul_ps(gb1, m1)), _mm_mul_ps(gb2, m2)),
                       _mm_mul_ps(ga1, y1)),
            _mm_mul_ps(ga2, y2));
        x2 = x1;
        x1 = x;
        m2 = m1;
        m1 = m;
        y2 = y1;
        y1 = y;
        _mm_store_ss(firstOut + i, y);
        _mm_store_ss(secondOut + i, _mm_shuffle_ps(y, y, 1));
    }
    alignas(16) float v[6][4];
    _mm_store_ps(v[0], x1), _mm_store_ps(v[1], x2), _mm_store_ps(v[2], m1);
    _mm_store_ps(v[3], m2), _mm_store_ps(v[4], y1), _mm_store_ps(v[5], y2);
    first = {v[0][0], v[1][0], v[2][0], v[3][0], v[4][0], v[5][0]};
    second = {v[0][1], v[1][1], v[2][1], v[3][1], v[4][1], v[5][1]};
}

bool operator==(const BiquadCoefficients& a, const BiquadCoefficients& b) {
    return a.b0 == b.b0 && a.b1 == b.b1 && a.b2 == b.b2 && a.a1 == b.a1 && a.a2 == b.a2;
}

} // namespace
#endif

void KWeightingFilter::processPair(KWeightingFilter& first, const float* firstIn, float* firstOut,
                                   KWeightingFilter& second, const float* secondIn, float* secondOut,
                                   size_t n) noexcept {
#if defined(__SSE2__)
    const KWeightingCoefficients& k = first.coefficients_;
    if (k.highPass == second.coefficients_.highPass && k.shelf == second.coefficients_.shelf) {
        kWeightTwoLanes(k, first.memory_, second.memory_, firstIn, secondIn, firstOut, secondOut, n);
        return;
    }
#endif
    first.process(firstIn, firstOut, n);
    second.process(secondIn, secondOut, n);
}

} // namespace orvanta
