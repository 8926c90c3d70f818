#pragma once

#include "platform/Biquad.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// Fixed configuration of a 4-band limiter: three crossovers, four bands.
struct MultibandLimiterConfig {
    std::vector<float> crossoverFrequencies = {100.0f, 500.0f, 4000.0f}; // Hz, ascending
    std::vector<std::string> bandNames = {"Sub-Bass", "Bass", "Mid", "High"};
    std::vector<float> attackTimes = {0.003f, 0.002f, 0.001f, 0.0005f}; // s
    std::vector<float> releaseTimes = {0.15f, 0.10f, 0.06f, 0.03f};     // s
    std::vector<float> thresholdOffsets = {0.0f, 0.0f, 0.0f, 0.0f};     // dB relative to the engine threshold
    std::vector<int> lookAheadSamples = {64, 48, 32, 16};               // ring length per band
    int holdSamples = 32;                                               // samples held after an attack step
};

// One normalised biquad (a0 divided out); an LR4 filter runs it twice in cascade.
using LR4Coefficients = BiquadCoefficients;

// One crossover at `crossoverHz` (kept below Nyquist, at most 0.45 of the rate): the Butterworth
// low-pass and high-pass biquads an LR4 filter runs twice, and the second-order all-pass their two
// LR4 filters sum to. Single precision; pure.
struct CrossoverDesign {
    LR4Coefficients lowPass, highPass, allPass;
};
CrossoverDesign designCrossover(float crossoverHz, float sampleRate) noexcept;

// Direct-form-I memory of one biquad of the limiter's crossovers.
using CrossoverMemory = FilterState;

struct LR4FilterState {
    CrossoverMemory stage1;
    CrossoverMemory stage2;
};

// The look-ahead limiter of one band on one channel.
struct BandLimiterState {
    float gain = 1.0f;                 // linear
    int holdCounter = 0;               // samples of hold left
    std::vector<float> lookAheadBuffer; // ring of max(1, lookAheadSamples) samples
    int lookAheadIndex = 0;            // next slot to write
    float windowPeak = 0.0f;           // largest |sample| in the ring, kept up to date
    // Limited samples waiting so that this band leaves with the longest band's delay: a ring of
    // (longest look-ahead − this band's look-ahead) samples, empty for the longest band.
    std::vector<float> alignmentBuffer;
    int alignmentIndex = 0; // next slot to write, which also holds the oldest sample
};

// Four Linkwitz-Riley bands, a look-ahead peak limiter with attack, hold and release per band, and
// their sum. The low branch also passes the top crossover's all-pass and the high branch the bottom
// one's, and every band leaves with the same delay, so with all gains at 1 the engine is an
// all-pass delayed by latencySamples(). The sum is not clipped here: peak control of the sum belongs
// to the stages after it. Single precision; per-channel state; one engine per pass, owned by one
// thread per channel at a time (channels are independent and may run on different threads).
class MultibandLimiterEngine {
public:

    MultibandLimiterEngine(int channelCount, MultibandLimiterConfig config, float sampleRate);

    // Linear threshold; 0.977 until set. Read afresh for every sample.
    float threshold = 0.977f;
    int detectedBPM() const noexcept { return detectedBPM_; }

    // Release times follow the tempo (factor 1.2 / 1.0 / 0.85 / 0.7), always from the configured ones.
    void adaptReleaseToTempo(int bpm);
    // The four band signals of one sample of `channel`, advancing that channel's crossover memory.
    // They sum to the input through the three crossovers' all-passes.
    std::array<float, 4> splitBands(int channel, float sample);
    // The limited band sum for one sample of `channel` after `inputGain`, latencySamples() late.
    float processSample(int channel, float sample, float inputGain);
    // processSample over `count` samples in place: the same arithmetic and the same state afterwards,
    // computed band-wise over runs of samples (vector lanes, a sliding-window maximum) for the hot loop
    // of a pass.
    void processBlock(int channel, float* samples, uint32_t count, float inputGain) {
        processBlock(channel, samples, samples, count, inputGain);
    }
    // The same from `input` into `output`, which may be `input`: a caller whose input stays as it is
    // (a song held in memory) need not copy it first.
    void processBlock(int channel, const float* input, float* output, uint32_t count, float inputGain);
    // processBlock of channels `first` and `first` + 1 with `count` samples each, on this thread: the
    // same bits and state, both channels side by side in the lanes of one vector where the processor
    // has eight lanes (AVX2).
    void processBlockPair(int first, float* firstSamples, float* secondSamples, uint32_t count, float inputGain) {
        float* const samples[2] = {firstSamples, secondSamples};
        processBlockPair(first, samples, samples, count, inputGain);
    }
    // The same from inputs[0 … 1] into outputs[0 … 1], which may be the inputs.
    void processBlockPair(int first, const float* const* inputs, float* const* outputs, uint32_t count,
                          float inputGain);

    const MultibandLimiterConfig& config() const noexcept { return config_; }
    float sampleRate() const noexcept { return sampleRate_; }
    int channelCount() const noexcept { return channelCount_; }
    const std::vector<LR4Coefficients>& lpCoeffs() const noexcept { return lpCoeffs_; }
    const std::vector<LR4Coefficients>& hpCoeffs() const noexcept { return hpCoeffs_; }
    // The second-order all-pass that an LR4 low-pass and high-pass at the same crossover sum to.
    const std::vector<LR4Coefficients>& allPassCoeffs() const noexcept { return apCoeffs_; }
    // Delay of the output behind the input, in samples: the longest look-ahead ring less one.
    int latencySamples() const noexcept { return longestLookAhead() - 1; }
    const std::vector<float>& attackCoeffs() const noexcept { return attackCoeffs_; }
    const std::vector<float>& releaseCoeffs() const noexcept { return releaseCoeffs_; }
    const BandLimiterState& bandState(int channel, int band) const { return bandLimiterStates_[size_t(channel)].bands[size_t(band)]; }

private:
    // The block path over one lane type (LaneVectors.h): four band lanes per channel, one channel per
    // group of four lanes.
    template <class Lanes>
    class LaneBlock;

    void setupCrossovers();
    void setupBandLimiters();
    float limitBand(BandLimiterState& state, int band, float bandSample, float bandThreshold);
    static float align(BandLimiterState& state, float limited);
    // The vectorised block path needs three crossovers and four configured bands.
    bool hasFourBandLayout() const noexcept;
    int longestLookAhead() const noexcept;
    static constexpr size_t runFrames = 512;

    MultibandLimiterConfig config_;
    float sampleRate_;
    int channelCount_;
    std::vector<LR4Coefficients> lpCoeffs_;
    std::vector<LR4Coefficients> hpCoeffs_;
    std::vector<LR4Coefficients> apCoeffs_;
    // Each channel's state on cache lines of its own: channels run on different threads, and shared
    // lines would bounce between cores on every sample.
    struct alignas(64) ChannelFilters {
        std::array<LR4FilterState, 6> stages{};
        CrossoverMemory lowAllPass;  // the low branch through the top crossover's all-pass
        CrossoverMemory highAllPass; // the high branch through the bottom crossover's all-pass
    };
    // Working rows of the block path, one lane per band of each channel it runs: the band signal with
    // its look-ahead history, its sliding-window maxima, the window peaks of one run, and the limited
    // bands of one run after the samples still waiting out their alignment delay.
    struct alignas(64) LaneRows {
        std::vector<float> history, maxima, peaks, limited;
        void assign(size_t lanes, size_t rows, size_t runRows);
    };
    struct alignas(64) ChannelLimiters {
        std::array<BandLimiterState, 4> bands{};
        LaneRows rows; // four lanes: this channel's bands
    };
    std::vector<ChannelFilters> filterStates_;
    std::vector<ChannelLimiters> bandLimiterStates_;
    // Eight lanes per row, the first channel's four bands then the second's: one set per pair of
    // neighbouring channels.
    std::vector<LaneRows> pairRows_;
    std::vector<float> attackCoeffs_;
    std::vector<float> releaseCoeffs_;
    std::array<float, 4> thresholdFactors_{};
    int detectedBPM_ = 0;
};

} // namespace orvanta
