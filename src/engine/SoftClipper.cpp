#include "engine/SoftClipper.h"

#include "engine/KaiserWindow.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvanta {

namespace {

constexpr int interpolatorTaps = QuarterSampleInterpolator::taps;
constexpr int pointsPerSample = QuarterSampleInterpolator::points;

// Windowed sinc at four times the rate with its cut-off at 0.9 of the original Nyquist frequency and
// unit gain at DC. β = 7 puts the stop band near −70 dB.
std::vector<float> designDecimation(int taps) {
    constexpr double beta = 7.0;
    constexpr double cutoff = 0.9 * 0.5 / pointsPerSample; // cycles per oversampled point
    return kaiserLowPass(taps, cutoff, beta);
}

} // namespace

SoftClipper::SoftClipper(int channelCount, float ceilingLinear, float depthDb)
    : ceiling_(ceilingLinear), depth_(std::pow(10.0f, -std::clamp(depthDb, 0.0f, 24.0f) / 20.0f)),
      knee_(ceilingLinear * depth_), channels_(size_t(std::max(channelCount, 0))),
      decimation_(designDecimation(decimationTaps)) {
    for (Channel& channel : channels_) {
        channel.input.assign(size_t(latencySamples) + runFrames, 0.0f);
        channel.residual.assign(size_t(decimationTaps - 1) + runFrames * pointsPerSample, 0.0f);
        channel.quietPoints = decimationTaps;
    }
}

// What the curve takes from four points, written to `taken`; true when it takes nothing. The four
// points go through `shape`'s arithmetic side by side.
inline bool SoftClipper::takeAway(const float* points, float* taken, float& largestPoint) const noexcept {
#if defined(__SSE2__)
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 x = _mm_load_ps(points);
    const __m128 magnitude = _mm_andnot_ps(signBit, x);
    __m128 largest = _mm_max_ps(magnitude, _mm_movehl_ps(magnitude, magnitude));
    largest = _mm_max_ss(largest, _mm_shuffle_ps(largest, largest, 1));
    largestPoint = std::max(largestPoint, _mm_cvtss_f32(largest));
    const __m128 knee = _mm_set1_ps(knee_);
    const __m128 span = _mm_set1_ps(ceiling_ - knee_);
    const __m128 over =
        _mm_min_ps(_mm_div_ps(_mm_max_ps(_mm_sub_ps(magnitude, knee), _mm_setzero_ps()), span), _mm_set1_ps(3.0f));
    const __m128 square = _mm_mul_ps(over, over);
    const __m128 saturated = _mm_div_ps(_mm_mul_ps(over, _mm_add_ps(_mm_set1_ps(27.0f), square)),
                                        _mm_add_ps(_mm_set1_ps(27.0f), _mm_mul_ps(_mm_set1_ps(9.0f), square)));
    const __m128 rounded = _mm_max_ps(_mm_add_ps(knee, _mm_mul_ps(span, saturated)),
                                      _mm_mul_ps(magnitude, _mm_set1_ps(depth_)));
    const __m128 shaped = _mm_or_ps(_mm_min_ps(magnitude, rounded), _mm_and_ps(signBit, x));
    const __m128 difference = _mm_sub_ps(shaped, x);
    _mm_storeu_ps(taken, difference);
    return _mm_movemask_ps(_mm_cmpneq_ps(difference, _mm_setzero_ps())) == 0;
#else
    bool quiet = true;
    for (int k = 0; k < pointsPerSample; ++k) {
        largestPoint = std::max(largestPoint, std::fabs(points[k]));
        taken[k] = shape(points[k]) - points[k];
        quiet = quiet && taken[k] == 0.0f;
    }
    return quiet;
#endif
}

float SoftClipper::largestReductionDb() const noexcept {
    if (!isActive()) return 0.0f;
    float largest = 0.0f;
    for (const Channel& channel : channels_) largest = std::max(largest, channel.largestPoint);
    const float shaped = shape(largest);
    return largest > 0.0f && shaped > 0.0f ? 20.0f * std::log10(largest / shaped) : 0.0f;
}

void SoftClipper::process(int channel, float* samples, uint32_t count) {
    if (!isActive()) {
        return;
    }
    const QuarterSampleInterpolator interpolator = QuarterSampleInterpolator::instance();
    Channel& state = channels_[size_t(channel)];
    float* const input = state.input.data();
    float* const residual = state.residual.data();
    const float* const h = decimation_.data();
    constexpr size_t history = decimationTaps - 1;
    constexpr size_t inputHistory = latencySamples;
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, input + inputHistory);
        for (uint32_t n = 0; n < run; ++n) {
            // The interpolator's window ends at the newest sample; its first point is that sample
            // less latencySamples of the interpolator.
            alignas(16) float points[pointsPerSample];
            interpolator.interpolate(input + inputHistory + n + 1 - interpolatorTaps, points);
            float* taken = residual + history + size_t(n) * pointsPerSample;
            const bool quiet = takeAway(points, taken, state.largestPoint);
            state.quietPoints = quiet ? std::min(state.quietPoints + pointsPerSample, decimationTaps) : 0;
            // Output n is the input 16 samples back plus the band-limited residual centred on that
            // sample's first point (the newest point read is sample n − 8's first one).
            float sum = 0.0f;
            if (state.quietPoints < decimationTaps) {
                // Eight running sums, so the products of a tap group add up side by side in vector lanes.
                const float* oldest = taken - history;
                float lanes[8] = {};
                int i = 0;
                for (; i + 8 <= decimationTaps; i += 8)
                    for (int j = 0; j < 8; ++j) lanes[j] += h[i + j] * oldest[i + j];
                sum = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
                for (; i < decimationTaps; ++i) sum += h[i] * oldest[i];
            }
            samples[start + n] = input[n] + sum;
        }
        std::copy(input + run, input + run + inputHistory, input);
        std::copy(residual + size_t(run) * pointsPerSample, residual + size_t(run) * pointsPerSample + history, residual);
    }
}

} // namespace orvanta
