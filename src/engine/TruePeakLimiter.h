#pragma once

#include "engine/TruePeakDetector.h"

#include <cstdint>
#include <vector>

namespace orvanta {

// Timing of the true-peak limiter.
struct TruePeakLimiterTiming {
    float lookAheadSeconds = 0.002f; // the gain ramps down across this span before a peak arrives
    // A reduction is held this long after the peak. With the look-ahead it spans half a cycle of
    // 60 Hz, so the gain stays still across the cycles of bass instead of following them.
    float holdSeconds = 0.0065f;
    float releaseSeconds = 0.025f;   // time constant of the return towards unity
};

// A stereo-linked look-ahead limiter that keeps the 4x oversampled peak of its output at or under a
// ceiling. Its gain never follows single waveform cycles: the gain each sample needs (ceiling over the
// linked true peak) is held at its minimum over the look-ahead and the hold, released smoothly, and
// averaged over the look-ahead, so it ramps down linearly before a peak and is at or under what every
// sample in reach needs. Per-channel state and scratch sized once for blocks of up to maxBlockFrames;
// no allocation while processing.
//
// A block goes through in two steps: detect() per channel (channels may run on different threads),
// then apply() once for all channels on one thread. The true peaks wait between the two in one of
// two peak sets, so the next block can be detected into one set while apply() reads this block's
// from the other, on another thread. The output is latencySamples() late.
class TruePeakLimiter {
public:
    TruePeakLimiter(int channelCount, float sampleRate, float ceilingLinear, uint32_t maxBlockFrames,
                    TruePeakLimiterTiming timing = {});

    // The detector's delay, the look-ahead, and half the interpolator's span more: the gain reaches a
    // peak's value that many samples early and holds it after, so the samples the interpolation
    // reconstructs the peak from are all scaled alike and no new overshoot comes out between them.
    int latencySamples() const noexcept {
        return lookAhead_ + TruePeakDetector::latencySamples + QuarterSampleInterpolator::latencySamples;
    }
    float ceiling() const noexcept { return ceiling_; }

    static constexpr int peakSets = 2;

    // Measures the true peaks of `count` (≤ maxBlockFrames) samples of `channel` into `peakSet`.
    void detect(int channel, const float* samples, uint32_t count, int peakSet = 0);
    // Replaces the `count` samples of every channel, which detect() has seen into `peakSet`, by the
    // limited output. Blocks are applied in the order they were detected.
    void apply(float* const* channels, uint32_t count, int peakSet = 0);

    // The smallest linear gain applied since construction.
    float smallestGain() const noexcept { return smallestGain_; }

private:
    void computeRequiredGains(const std::vector<std::vector<float>>& peaks, uint32_t count) noexcept;
    float slidingMinimum(float required) noexcept;
    void smoothGains(uint32_t count) noexcept;
    void delayAndScale(float* const* channels, uint32_t count) noexcept;

    float ceiling_;
    int lookAhead_;   // samples
    int holdWindow_;  // samples covered by the running minimum: look-ahead, hold and the current one
    float release_;   // one-pole coefficient per sample

    TruePeakDetector detector_;
    // Per set and channel: the true peak of each sample of a block.
    std::vector<std::vector<float>> peaks_[peakSets];
    // Per channel: the last latencySamples() input samples, then room for a block.
    std::vector<std::vector<float>> delays_;
    std::vector<float> gains_; // per sample of the block: the required, then the held, then the applied gain

    // Running minimum of the required gain: a ring of (sample number, gain) pairs with increasing gains.
    std::vector<int64_t> minimumAt_;
    std::vector<float> minimumGain_;
    size_t minimumHead_ = 0, minimumCount_ = 0;
    int64_t sampleNumber_ = 0;

    float released_ = 1.0f;          // the held minimum after the release filter
    std::vector<float> averaged_;    // the last lookAhead + 1 released gains
    size_t averageIndex_ = 0;
    double gainSum_;                 // their sum, kept in double so it does not drift
    float smallestGain_ = 1.0f;
};

} // namespace orvanta
