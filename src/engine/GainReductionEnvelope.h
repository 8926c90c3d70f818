#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvanta {

// How far a limiting pass pulled the song down, over time: the pass cut into equal buckets, each with
// the peak reduction the chain applied there (the bucket's input peak after the pass's gain against its
// output peak, in dB). It covers everything after the gain — band limiters, soft clipper, true-peak
// limiter and the guard clip — as a gain-reduction meter would show it, decimated for drawing.
struct GainReductionEnvelope {
    double bucketSeconds = 0.0;     // time one bucket covers, s
    std::vector<float> reductionDb; // per bucket, ≥ 0 dB; 0 where the input is silent
    float maximumDb = 0.0f;         // largest bucket, dB
    // Mean over time: over the 10 ms windows whose input sounds, dB (0 without any). Fixed windows,
    // not the buckets, so the same music reads the same however long the song around it is.
    float averageDb = 0.0f;

    bool empty() const noexcept { return reductionDb.empty(); }
    bool operator==(const GainReductionEnvelope&) const = default;
};

// Follows one pass's input and output as they stream past and builds its envelope. Peaks are taken
// over 10 ms windows; a bucket is a whole number of windows, about a `targetPoints`-th of the song and
// never shorter than one window. Both sides are sized on construction (8 bytes per window, 2.9 MB an
// hour) and feeding never allocates. Input and output are fed in order, each by one thread at a
// time (they may be different threads); finish() after both are done.
class GainReductionTracker {
public:
    static constexpr int64_t targetPoints = 4000;
    static constexpr double shortestBucketSeconds = 0.01; // also the window the average is taken over
    // A bucket whose input, after the gain, peaks below this (linear, −90 dBFS) counts as silent.
    static constexpr float silentPeak = 3.1623e-5f;

    // Throws std::bad_alloc.
    GainReductionTracker(double sampleRate, int64_t totalFrames, float inputGain);

    int64_t bucketFrames() const noexcept { return bucketFrames_; }
    size_t bucketCount() const noexcept;

    // The next `frames` frames of the pass's input (before the gain), channels[c] holding channel c.
    void addInput(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept;
    // The next `frames` frames of the pass's output, aligned with the input.
    void addOutput(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept;

    GainReductionEnvelope finish() const;

private:
    void addPeaks(std::vector<float>& peaks, int64_t& position, const float* const* channels,
                  uint32_t channelCount, uint32_t frames) const noexcept;

    double sampleRate_;
    int64_t windowFrames_;     // frames of one 10 ms window
    int64_t windowsPerBucket_;
    int64_t bucketFrames_;
    float inputGain_;
    std::vector<float> inputPeaks_;  // per window, linear, before the gain
    std::vector<float> outputPeaks_; // per window, linear
    int64_t inputFrames_ = 0;        // frames fed so far
    int64_t outputFrames_ = 0;
};

} // namespace orvanta
