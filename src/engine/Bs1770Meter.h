#pragma once

#include "engine/KWeighting.h"
#include "engine/TruePeakDetector.h"
#include "engine/WindowedSums.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orvanta {

// How a BS.1770 meter cuts and weighs its blocks. The mastering meter and the analyzer keep different
// settings, each reproducing the figures its users have always read.
struct Bs1770Config {
    float blockSeconds = 0.4f;         // gating block
    float hopSeconds = 0.1f;           // between gating blocks
    float shortTermSeconds = 0.0f;     // block of the loudness range; 0: no loudness range
    float shortTermHopSeconds = 0.0f;  // between short-term blocks
    bool lastBlockMayEndOnLastFrame = false; // else a block must end before the last frame
    bool weightMeanSquares = false;    // z = Σ w·(sum/length) rather than Σ (w·sum)/length
    bool truePeak = false;             // run the 4x oversampled true-peak detector
    WindowedSums::SumOfSquares sumOfSquares = nullptr; // the order in which a block's squares add up
};

// A BS.1770 loudness meter in the manner of libebur128's handle: feed samples (planar or interleaved),
// then ask for the integrated loudness, the loudness range and the true peak. K-weighting follows the
// sample rate (platform/Biquad.h). Channels weigh by position when `channelMask` names one per
// channel (loudnessChannelWeight); without a layout channels 0 and 1 weigh 1.0, further ones 1.41. Everything is
// sized on construction for `expectedFrames` and pieces of at most `maxPiece` frames (throws
// std::bad_alloc); feeding never allocates. One thread at a time, except that different channels may
// be fed on different threads.
class Bs1770Meter {
public:
    Bs1770Meter(double sampleRate, uint32_t channelCount, const Bs1770Config& config, int64_t expectedFrames,
                uint32_t maxPiece, uint64_t channelMask = 0);

    uint32_t channelCount() const noexcept { return uint32_t(channels_.size()); }

    // Up to maxPiece frames of `count` (1 or 2) neighbouring channels from `first` into the blocks;
    // `samples[i]` is channel first + i. A pair is K-weighted side by side in one vector.
    void weigh(uint32_t first, uint32_t count, const float* const* samples, uint32_t frames) noexcept;
    // Frames of one channel into the true peak (nothing unless configured).
    void addTruePeak(uint32_t channel, const float* samples, uint32_t frames);
    // Frames of every channel, any number of them: channels[c] holds channel c.
    void addPlanar(const float* const* channels, uint32_t frames);
    // Frames of every channel interleaved (frame by frame), any number of them. The first call sizes a
    // piece to deinterleave into.
    void addInterleaved(const float* samples, uint32_t frames);
    // Ends the measurement after `frames` frames: blocks past them are dropped, the true peak flushed.
    void finish(int64_t frames);

    // Channel-weighted mean square of each gating block, and of each short-term block.
    std::vector<float> blockPowers() const;
    std::vector<float> shortTermPowers() const;
    // Mean square of the blocks left by the absolute (−70 LUFS) and relative (−10 LU) gates; a gate that
    // would leave nothing is skipped. 0 without blocks.
    float gatedMeanSquare() const;
    // loudnessOfPower(gatedMeanSquare()), LUFS.
    float integratedLoudness() const;
    // Spread of the short-term loudness (P95 − P10, LU) over the values above −70 LUFS and above the
    // integrated loudness − 20; 0 with fewer than two such values or without short-term blocks.
    double loudnessRange() const;
    // Largest true peak over all channels, linear (0 unless configured).
    float truePeak() const noexcept { return truePeak_ ? truePeak_->maximum() : 0.0f; }

private:
    struct Channel {
        KWeightingFilter kWeighting;
        WindowedSums blocks;
        std::optional<WindowedSums> shortTerm;
    };
    std::vector<float> powers(bool shortTerm) const;

    Bs1770Config config_;
    size_t blockFrames_;
    size_t shortTermFrames_;
    uint32_t maxPiece_;
    std::vector<Channel> channels_;
    std::vector<float> weights_;              // each channel's share of the loudness sum
    std::optional<TruePeakDetector> truePeak_;
    std::vector<float> scratch_;              // one piece of every channel, deinterleaved
    std::vector<const float*> scratchChannels_; // where each channel starts in scratch_
};

// The calibration every loudness figure of the engine carries: this meter reads 0.5 LU below a
// BS.1770 meter (libebur128, the streaming services' own).
inline constexpr float meterCalibrationDb = -0.5f;

// A loudness of this meter on the plain BS.1770 scale.
constexpr double bs1770Loudness(double meterLufs) noexcept { return meterLufs - meterCalibrationDb; }

// The weight of channel `channel` of `channelCount` in the loudness sum. With a layout (`channelMask`
// naming one position per channel, platform/ChannelLayout.h) as BS.1770 and FFmpeg's ebur128 weigh
// them: the low-frequency channel 0, surrounds (side, back, top back) 1.41, every other one 1.0.
// Without one: 1.0 for channels 0 and 1, 1.41 for the rest. Pure.
float loudnessChannelWeight(uint64_t channelMask, uint32_t channelCount, uint32_t channel) noexcept;

// 10·log10(max(power, smallest float)) − 0.691 + meterCalibrationDb, LUFS in single precision.
float loudnessOfPower(float power);

// Spread (P95 − P10, LU) of the values above −70 LUFS and above integrated − 20; 0 with fewer than
// two such values. Percentiles interpolate between neighbouring sorted values. Pure.
double loudnessRange(const std::vector<double>& shortTermValues, double integrated);

} // namespace orvanta
