#pragma once

#include "engine/GainReductionEnvelope.h"
#include "engine/GainStaging.h"

#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

namespace orvanta {

// Whether the loudness of some audio could be measured: that takes at least one 400 ms block
// (BS.1770's gating block) above the absolute gate, a mean square of 1e−7 (−70 LUFS).
enum class Measurability {
    measurable,
    tooShort, // no whole 400 ms block
    silent    // blocks, but none above the gate (digital silence, near silence, or only invalid samples)
};

// Loudness record of one file, produced only by analyzeAudioFile.
struct AudioStats {
    float lufs = 0.0f; // integrated, K-weighted, gated loudness in LUFS (meter calibration −0.5 dB)
    float peak = 0.0f; // sample peak in dBFS
    float rms = 0.0f;  // RMS of the loudest 5 % of 100 ms windows in dB, plus 0.4 dB (NaN under 100 ms)
    float truePeak = -std::numeric_limits<float>::infinity(); // 4x oversampled peak in dBTP
    // Unless measurable, lufs is the meter's floor and means nothing: a master or an analysis refuses
    // such audio, and the figures are shown as "too short" or "silent".
    Measurability measurability = Measurability::measurable;
};

// The two parameters of a mastering run.
struct DJMasteringSettings {
    float targetLUFS = -8.0f;     // loudness the output must reach, LUFS
    float limitThreshold = -0.3f; // output ceiling, dBFS

    bool operator==(const DJMasteringSettings&) const = default;
};

// What one mastering run returns: the rendered file and its measurement.
struct DJMasteringResult {
    std::filesystem::path outputURL;
    AudioStats stats;
    int passes = 0;         // limiting passes rendered (0 for an EQ render)
    float totalGain = 1.0f; // linear gain of the accepted pass
    // False when the output stayed quieter than the target after the last pass: the loudest result
    // the chain gives without clipping.
    bool targetReached = true;
    // Set when the target was out of reach because the gain came to the run's bound (dB, the first
    // pass's gain + 24 dB): no song needs more, so the input is mostly silence or isolated peaks.
    std::optional<float> gainLimitDb;
    GainReductionEnvelope gainReduction; // of the accepted pass (empty for an EQ render without one)
    float softClipDepthDb = 0.0f; // the most the soft clipper was allowed to take from a peak, dB (0: not in the chain)
    float softClipMaxDb = 0.0f;   // the most it took in the accepted pass, dB
    int bpm = 0;                  // the tempo the passes adapted to (0: none detected)
    AudioStats inputStats;        // the measured source of the passes
    // The passes of the accepted chain (its soft clipper and band limit), each as gain and loudness
    // less the ceiling, dB: the chain's thresholds follow its ceiling, so the same points hold under
    // any other, for a caller that makes the master again under a lower one.
    std::vector<MeasuredPass> ceilingRelativePasses;
};

// The same pair as the batch processor passes it around and stores it per file.
struct ProcessingResult {
    std::filesystem::path outputURL;
    AudioStats stats;
};

struct AudioFileDetails {
    double duration = 0.0; // seconds
    std::optional<AudioStats> stats;
};

// How a run spreads its work over the cores, as the WorkExecutor it makes. `pipelined` overlaps a
// pass's stages, a step's channels and a meter's jobs on a few workers, for a run that has the
// machine to itself; `oneThread` does all of it on the calling thread, for one of several runs that
// share the cores: no thread is started and no block is handed over, so no core time goes to either.
// Both give the same samples and figures.
enum class WorkThreads { pipelined, oneThread };

// Progress of a long operation as a fraction 0…1; called on the worker's thread.
using ProgressCallback = std::function<void(double)>;
// Asked before every block of work; true stops the operation with the cancellation error.
using CancellationQuery = std::function<bool()>;

} // namespace orvanta
