#pragma once

#include "engine/BandLimiter.h"
#include "engine/MultibandLimiter.h"
#include "engine/ReverseAllPass.h"
#include "engine/SoftClipper.h"
#include "engine/TruePeakLimiter.h"
#include "engine/WorkExecutor.h"
#include "platform/AudioBuffer.h"

#include <cstdint>
#include <climits>

namespace orvanta {

// What a limiting pass runs every sample through, in order:
//  1. the input gain and the 4-band limiter (per channel);
//  2. the crossovers' all-pass backwards in time, which turns the band sum's phase back (per channel);
//  3. for loud targets, the oversampled soft clipper (per channel), then, for a master that a lossy
//     codec will band-limit, a low-pass at the codec's band edge (per channel);
//  4. the stereo-linked true-peak limiter, which has the last word on the ceiling;
//  5. a hard clip at max(0.977, ceiling) as a last guard, which normal material never reaches.
// With nothing limited, the chain gives its input back.
// The output is latencySamples() late; the pass that runs the chain compensates that.
struct MasteringChainSettings {
    float inputGain = 1.0f;        // linear
    float bandThreshold = 0.977f;  // linear threshold of the four band limiters
    float ceilingDb = -0.3f;       // true-peak ceiling, dBTP
    float softClipDepthDb = 0.0f;  // 0 leaves the soft clipper out
    float bandLimitHz = 0.0f;      // pass-band edge of the low-pass before the true-peak limiter; 0 leaves it out
    TruePeakLimiterTiming truePeakTiming;
    int bpm = 0;                   // tempo for the band limiters' release; < 1 keeps their defaults
};

class MasteringChain {
public:
    // Every true peak is aimed this far under the ceiling, for the rounding of the interpolation and
    // of the 24-bit output.
    static constexpr float ceilingMarginDb = 0.05f;
    static constexpr float guardClip = 0.977f;

    // With an executor, the channels of a step run side by side on it; without, one after another.
    MasteringChain(int channelCount, float sampleRate, uint32_t maxBlockFrames, const MasteringChainSettings& settings,
                   WorkExecutor* executor = nullptr);

    int latencySamples() const noexcept;
    // The soft clipper's largest peak reduction so far, dB (0 without it). Call between blocks.
    float softClipLargestReductionDb() const noexcept { return clipper_.largestReductionDb(); }
    // Only input frames [first, end) will be kept in the output; what the chain lets through before or
    // after them (the backward all-pass rings ahead of the first frame) is silenced before the peak
    // stages, so those see the edges a player will see.
    void setKeptFrames(int64_t first, int64_t end) noexcept;
    // Processes the buffer's frameLength frames of every channel in place: the three steps below, in turn.
    void process(AudioBuffer& buffer);

    // process() in three steps, for a caller that overlaps them: limitBands() runs the input gain, the
    // band limiters and the phase return, clipAndDetect() the soft clipper, the band limit and the
    // true-peak detection, which leaves the block's true peaks in `peakSet`; limitLinked() then limits
    // the block from them and applies the guard. The first step is the heaviest, the other two share a
    // thread's worth of work. Channels run side by side on the executor within a step. Every block
    // goes through the three in order and each step takes the blocks in order, but the steps may run
    // on different threads at once on different blocks: limitBands() on block k + 2 while
    // clipAndDetect() takes block k + 1 into one peak set and limitLinked() block k from the other.
    void limitBands(AudioBuffer& buffer);
    // limitBands() of the buffer's frameLength frames read from inputs[c] (one per channel, left as
    // they are) instead of from the buffer, which receives the result.
    void limitBands(const float* const* inputs, AudioBuffer& buffer);
    void clipAndDetect(AudioBuffer& buffer, int peakSet);
    void limitLinked(AudioBuffer& buffer, int peakSet);

private:
    template <class Single, class Pair>
    void forEachPair(uint32_t channels, const Single& single, const Pair& pair);
    void silenceOutsideKeptFrames(float* bandSum, uint32_t frames) const noexcept;

    WorkExecutor* executor_;
    MasteringChainSettings settings_;
    MultibandLimiterEngine bands_;
    ReverseAllPass phaseReturn_;
    SoftClipper clipper_;
    BandLimiter bandLimit_;
    TruePeakLimiter truePeak_;
    float guard_;
    int64_t processedFrames_ = 0; // frames of every channel handed to process() so far
    int64_t keptFirst_ = 0;
    int64_t keptEnd_ = INT64_MAX;
};

} // namespace orvanta
