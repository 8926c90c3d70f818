#pragma once

#include "engine/QuarterSampleInterpolator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace orvanta {

// A 4x oversampled soft clipper for loud masters: it rounds off peaks towards `ceilingLinear` and takes
// at most `depthDb` of reduction from any point, so the limiter after it has less to do and its gain
// moves less. Only what the curve takes away is resampled: that residual, computed on four points per
// sample, goes back to the sample rate through a 65-tap Kaiser-windowed low-pass (which keeps the new
// harmonics above the band from folding back into it) and is added to the delayed input. Below
// ceiling − depth the signal therefore passes untouched, only delayed. Per-channel state sized once;
// channels may run on different threads; no allocation while processing.
class SoftClipper {
public:
    SoftClipper(int channelCount, float ceilingLinear, float depthDb);

    static constexpr int latencySamples = QuarterSampleInterpolator::latencySamples + 8;

    bool isActive() const noexcept { return depth_ < 1.0f; }
    // Replaces `count` samples of `channel` by the clipped output, latencySamples late.
    void process(int channel, float* samples, uint32_t count);
    // The largest peak reduction the curve has taken from any point since construction, dB (0 when
    // it took nothing). The curve's reduction grows with the magnitude, so it is that of the largest
    // point seen. Call when no channel is being processed.
    float largestReductionDb() const noexcept;

    // The clipping curve on one point: identity up to the knee, then a smooth saturation that reaches
    // the ceiling, never below the point scaled by the depth. The saturation is the [3/2] Padé form of
    // tanh held at its value 1 from 3 on, where its slope reaches zero: smooth like tanh at a fraction
    // of its cost, and free of branches, so the points of a sample are shaped side by side.
    inline float shape(float x) const noexcept {
        const float magnitude = std::fabs(x);
        const float span = ceiling_ - knee_;
        const float over = std::min(std::max(magnitude - knee_, 0.0f) / span, 3.0f);
        const float saturated = over * (27.0f + over * over) / (27.0f + 9.0f * over * over);
        // At or under the knee `rounded` is the knee itself, above the magnitude: the minimum keeps x.
        const float rounded = std::max(knee_ + span * saturated, magnitude * depth_);
        return std::copysign(std::min(magnitude, rounded), x);
    }

private:
    bool takeAway(const float* points, float* taken, float& largestPoint) const noexcept;

    static constexpr int decimationTaps = 65;
    static constexpr uint32_t runFrames = 512;

    float ceiling_;
    float depth_; // linear: the smallest ratio of output to input a point may get
    float knee_;  // linear: where the curve leaves the identity
    struct alignas(64) Channel {
        std::vector<float> input;    // the last latencySamples inputs, then one run
        std::vector<float> residual; // the decimator's last taps − 1 points, then one run of points
        int quietPoints = 0;         // residual points in a row that were zero, up to the decimator's length
        float largestPoint = 0.0f;   // linear: the largest magnitude of the points shaped so far
    };
    std::vector<Channel> channels_;
    std::vector<float> decimation_; // residual low-pass at four times the rate, cut at the original band edge
};

} // namespace orvanta
