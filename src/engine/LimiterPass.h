#pragma once

#include "engine/GainReductionEnvelope.h"
#include "engine/MasteringChain.h"
#include "engine/PassOutput.h"
#include "engine/ProcessingTypes.h"
#include "engine/TruePeakLimiter.h"
#include "engine/WorkExecutor.h"

#include <filesystem>

namespace orvanta {

// What a pass wrote.
struct LimiterPassReport {
    AudioStats stats;                    // the meter's figures of the samples written
    GainReductionEnvelope gainReduction; // how far the chain pulled the gained input down, over time
    float softClipMaxDb = 0.0f;          // the soft clipper's largest peak reduction, dB (0 without it)
};

// Streams `input` through `gain` and the mastering chain (tempo-adapted 4-band limiter, a soft
// clipper for targets louder than −8 LUFS, the true-peak limiter at `limitThreshold` dBTP) into a
// 24-bit WAV at `output` (an existing file there is replaced). The chain's delay is compensated: the
// output is sample-aligned with the input and exactly as long. Blocks of 1 s (2 s on machines with
// more than 8 GB), the cancellation query asked before every block, progress at most once per 1 %.
// Unreadable stretches become silence. The written samples are measured as they go out, with the
// meter of analyzeAudioFile (figures equal to the file's within 24-bit rounding), and their peaks
// against the input's for the gain-reduction envelope. Three blocks are in flight, two of them as
// tasks of the executor; with WorkThreads::oneThread each block goes through every stage on the
// calling thread, with the same samples out. Throws the platform's errors, Orvanta/2, or Orvanta/100 on cancellation; the
// partial output is left in place on failure.
LimiterPassReport renderLimiterPass(const std::filesystem::path& input, const std::filesystem::path& output,
                                    float gain, int bpm, float targetLUFS, float limitThreshold,
                                    const ProgressCallback& progress, const CancellationQuery& isCancelled,
                                    WorkThreads threads = WorkThreads::pipelined);
LimiterPassReport renderLimiterPass(const std::filesystem::path& input, const std::filesystem::path& output,
                                    float gain, int bpm, float targetLUFS, float limitThreshold,
                                    const ProgressCallback& progress, const CancellationQuery& isCancelled,
                                    WorkExecutor& executor);

// The same with the chain's settings given whole (passChainSettings, then changed where wanted).
LimiterPassReport renderLimiterPass(const std::filesystem::path& input, const std::filesystem::path& output,
                                    const MasteringChainSettings& settings, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled, WorkThreads threads = WorkThreads::pipelined);

// The same into `output`: held in memory when it fits the budget, else written to its spill file.
LimiterPassReport renderLimiterPass(const std::filesystem::path& input, PassOutput& output,
                                    const MasteringChainSettings& settings, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled, WorkThreads threads = WorkThreads::pipelined);

// The chain's settings of a pass from its gain, tempo, target and ceiling, as renderLimiterPass uses them.
MasteringChainSettings passChainSettings(float gain, int bpm, float targetLUFS, float limitThreshold) noexcept;

// The band limiters' threshold for a pass: 10^(limitThreshold/20) × (0.97 below −13 LUFS, else 0.99).
float limiterThresholdFor(float targetLUFS, float limitThreshold) noexcept;

// The true-peak limiter's timing for a target. Up to −8 LUFS its gain holds across half a cycle of
// 60 Hz and releases over 25 ms, so pushed bass and tones come out clean. Louder targets trade some
// of that for loudness, as the soft clipper does: a 1.5 ms look-ahead, 3 ms hold and 15 ms release let
// dense drums and bright hats reach the target without clipping.
TruePeakLimiterTiming truePeakTimingFor(float targetLUFS) noexcept;

// How much peak reduction the soft clipper may take for a target: none at −8 LUFS and quieter, 1.5 dB
// per LU beyond it, at most 3 dB. A clean limiter alone cannot reach such loudness without pumping.
float softClipDepthFor(float targetLUFS) noexcept;

} // namespace orvanta
