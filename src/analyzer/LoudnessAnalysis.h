#pragma once

#include "engine/Bs1770Meter.h"
#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"


// The analyzer's loudness measure over the whole file: the BS.1770 meter (engine/Bs1770Meter.h) with
// 200 ms gating blocks and 3 s short-term blocks, K-weighting for the file's rate, a −1.191 dB offset.
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

// measureLoudness over a file as it streams past, chunk after chunk of every channel: the same
// figures without holding the file. Sized for `expectedFrames` on construction; adding allocates
// nothing. One thread at a time.
class LoudnessAccumulator {
public:
    LoudnessAccumulator(double sampleRate, uint32_t channelCount, int64_t expectedFrames);
    // The next `frames` frames of every channel of `chunk`.
    void add(const AudioBuffer& chunk, uint32_t frames) noexcept;
    // The figures of the first `frames` frames added.
    LoudnessMeasurement finish(int64_t frames);

private:
    Bs1770Meter meter_;
};

// The meter's formulas (engine/Bs1770Meter.h), under the analyzer's names.
using orvanta::loudnessOfPower;
using orvanta::loudnessRange;

} // namespace orvanta::AudioAnalyzer
