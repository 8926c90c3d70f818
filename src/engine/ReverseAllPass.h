#pragma once

#include "engine/MultibandLimiter.h"

#include <cstdint>
#include <vector>

namespace orvanta {

// The limiter's crossovers sum to an all-pass: they keep every frequency's level but turn its phase,
// which moves the parts of a waveform against each other and can raise its peaks by several dB (a
// clipped or saturated mix most of all). The same all-pass run backwards in time over the band sum
// turns it back: with the bands idle the chain then has zero phase and gives its input back sample
// for sample, and the peak stages after it see the song's own peaks.
//
// Backwards in a stream: the sum is taken in segments; each segment is filtered from the end of the
// samples that follow it (the settling span) to its start, from rest. The all-passes ring down with a
// time constant of about 2 ms whatever the rate, so 0.1 s of settling leaves an error far below the
// 24-bit floor. The output is latencySamples() late. Per-channel state sized once for blocks of up to
// maxBlockFrames; channels may run on different threads; no allocation while processing.
class ReverseAllPass {
public:
    ReverseAllPass(int channelCount, float sampleRate, const std::vector<LR4Coefficients>& allPasses,
                   uint32_t maxBlockFrames);

    int latencySamples() const noexcept { return int(segment_ + settling_); }
    // Replaces `count` (≤ maxBlockFrames) samples of `channel` by the output.
    void process(int channel, float* samples, uint32_t count);
    // process() of channels `first` and `first` + 1 with `count` samples each, on this thread: the
    // same bits, the two channels side by side in the lanes of one vector where the processor has
    // eight lanes.
    void processPair(int first, float* firstSamples, float* secondSamples, uint32_t count);

private:
    void filterSegment(int channel);
    void filterSegmentPair(int first);
    // Room for the next `segment_` outputs of a channel, at the returned pointer.
    float* segmentOutput(int channel);
    void segmentDone(int channel);

    std::vector<LR4Coefficients> allPasses_;
    uint32_t segment_;  // samples produced at a time
    uint32_t settling_; // samples after a segment the filters start from
    struct alignas(64) Channel {
        std::vector<float> input;  // samples not yet produced, from `inputStart`, then room for a block
        size_t inputStart = 0, inputFrames = 0;
        std::vector<float> output; // produced samples not yet handed out, from `outputStart`
        size_t outputStart = 0, outputEnd = 0;
        std::vector<CrossoverMemory> memory; // one per all-pass, from rest for every segment
    };
    static void appendInput(Channel& c, const float* samples, uint32_t count);

    std::vector<Channel> channels_;
};

} // namespace orvanta
