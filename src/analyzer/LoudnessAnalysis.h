#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"

#include <vector>

// The analyzer's own loudness measure over the whole file: K-weighting for the file's rate, 200 ms and
// 3 s blocks, a −1.191 dB offset.
namespace orvanta::AudioAnalyzer {

struct LoudnessMeasurement {
    double integrated = -70.0;   // LUFS
    double momentaryMax = -70.0; // loudest 200 ms block, LUFS
    double shortTermMax = -70.0; // loudest 3 s block, LUFS
    double loudnessRange = 0.0;  // LU
    // Whether some 400 ms stretch (two 200 ms blocks a block apart) rises above the −70 LUFS gate.
    Measurability measurability = Measurability::tooShort;

    bool operator==(const LoudnessMeasurement&) const = default;
};

// (−70, −70, −70, 0) for a buffer without frames, and −70 for every figure of material without any
// energy. Each channel is K-weighted piece by piece, so memory does not grow with the file beyond the
// block sums. progress receives the share of samples weighted, 0…1, in steps of at least 0.02.
// Any thread; throws only the cancellation error (asked before every piece).
LoudnessMeasurement measureLoudness(const AudioBuffer& buffer, const ProgressCallback& progress = {},
                                    const CancellationQuery& isCancelled = {});

struct BlockLoudness {
    std::vector<float> powers;  // channel-weighted mean square of each block
    float maxLoudness = -70.0f; // loudest block, LUFS; −70 without blocks
};

// The blocks' powers from each channel's sums of squares over blocks of `block` frames: channels 0
// and 1 weigh 1.0, further channels 1.41. Pure; any thread.
BlockLoudness blockLoudness(const std::vector<std::vector<float>>& channelSums, size_t block);

// 10·log10(max(power, 1e−45)) − 0.691 − 0.5 (single precision).
float loudnessOfPower(float power);

// Spread (P95 − P10, LU) of the short-term values above −70 LUFS and above integrated − 20;
// 0 with fewer than two such values. Pure.
double loudnessRange(const std::vector<double>& shortTermValues, double integrated);

} // namespace orvanta::AudioAnalyzer
