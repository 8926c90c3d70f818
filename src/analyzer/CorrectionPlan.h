#pragma once

#include "analyzer/AnalyzerPlan.h"
#include "analyzer/AudioAnalysisResult.h"
#include "platform/PreferenceStore.h"

#include <array>
#include <vector>

namespace orvanta {

// Frequencies (Hz) and Q of the 12 peaking bands of a correction plan.
inline constexpr std::array<float, 12> planBandFrequencies = {32,   63,   125,  250,  500,   1000,
                                                              2000, 4000, 8000, 12000, 16000, 20000};
inline constexpr std::array<float, 12> planBandQs = {0.7f, 0.8f, 0.9f, 1.0f, 1.0f, 1.0f,
                                                     1.0f, 1.0f, 0.9f, 0.8f, 0.7f, 0.6f};

// Gains (dB) that level 12 band values towards their mean, smoothed with a (1, 2, 1) ÷ 4 kernel and
// clamped to ±4; 12 zeros unless exactly 12 values are given.
std::vector<float> smoothGains(const std::vector<float>& bandValues);

// The plan's target when none is stored, LUFS.
inline constexpr float planDefaultTargetLUFS = -8.0f;

// The correction plan of an analysis: EQ curve, side gain, wet/dry blend, pre-gain, target (the stored
// "targetLoudness", else −8 LUFS) and limiter threshold, with the report of every figure.
// bandValues are the file's 12 band levels (0…10); inputLUFS (LUFS), inputPeak and inputRMS (linear)
// are recorded as given. Reads `preferences`; any thread; does not throw.
AnalyzerPlan makePlan(const AudioAnalysisResult& result, const std::vector<float>& bandValues, float inputLUFS,
                      float inputPeak, float inputRMS, const PreferenceStore& preferences);
// The same plan towards `targetLUFS` (in the accepted range), without a preference store.
AnalyzerPlan makePlan(const AudioAnalysisResult& result, const std::vector<float>& bandValues, float inputLUFS,
                      float inputPeak, float inputRMS, float targetLUFS);

} // namespace orvanta
