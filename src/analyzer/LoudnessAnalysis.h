#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"

#include <vector>

// The analyzer's own loudness measure: fixed 48 kHz K-weighting at every rate, 200 ms and 3 s blocks,
// a −1.191 dB offset, and at most the middle 120 s of the file.
namespace orvanta::AudioAnalyzer {

struct LoudnessMeasurement {
    double integrated = -70.0;   // LUFS
    double momentaryMax = -70.0; // loudest 200 ms block, LUFS
    double shortTermMax = -70.0; // loudest 3 s block, LUFS
    double loudnessRange = 0.0;  // LU

    bool operator==(const LoudnessMeasurement&) const = default;
};

// (−70, −70, −70, 0) for a buffer without frames, and −70 for every figure of material without any
// energy. progress receives 0…1 for the short-block pass, then again 0…1 for the long-block pass.
// Any thread; throws only the cancellation error.
LoudnessMeasurement measureLoudness(const AudioBuffer& buffer, const ProgressCallback& progress = {},
                                    const CancellationQuery& isCancelled = {});

// The frames measured: min(trunc(120·rate in single precision), length) starting at the middle.
struct LoudnessExcerpt {
    uint32_t start = 0;
    uint32_t frames = 0;
};
LoudnessExcerpt loudnessExcerpt(double sampleRate, uint32_t length);

// Filters one channel in place with the two K-weighting biquads (direct form I, single precision,
// state starting at zero).
void kWeight(std::vector<float>& samples);

struct BlockLoudness {
    std::vector<float> powers;  // channel-weighted mean square of each block
    float maxLoudness = -70.0f; // loudest block, LUFS; −70 without blocks
};

// Blocks of `block` frames every `hop` frames (starts 0, hop, … up to length − block); channels 0 and 1
// weigh 1.0, further channels 1.41. progress receives the share of blocks done in steps of at least 0.02.
// Any thread; throws only the cancellation error.
BlockLoudness blockLoudness(const std::vector<std::vector<float>>& channels, size_t block, size_t hop,
                            const ProgressCallback& progress = {}, const CancellationQuery& isCancelled = {});

// 10·log10(max(power, 1e−45)) − 0.691 − 0.5 (single precision).
float loudnessOfPower(float power);

// Spread (P95 − P10, LU) of the short-term values above −70 LUFS and above integrated − 20;
// 0 with fewer than two such values. Pure.
double loudnessRange(const std::vector<double>& shortTermValues, double integrated);

} // namespace orvanta::AudioAnalyzer
