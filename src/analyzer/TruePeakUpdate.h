#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/AudioAnalyzer.h"

namespace orvanta::AudioAnalyzer {

// `result` with the peak pass applied: truePeakLevel and truePeakDB set from `peak`, and the use case,
// its target and note recomputed from the integrated loudness and that peak. Pure; any thread.
AudioAnalysisResult withTruePeak(AudioAnalysisResult result, const TruePeak& peak);

// analyzeFile followed by measureTruePeak and withTruePeak: the complete analysis of a file.
// Synchronous; any thread; throws what those two throw.
AudioAnalysisResult analyzeFileWithPeak(const std::filesystem::path& path, const ProgressCallback& progress = {},
                                        const CancellationQuery& isCancelled = {});

} // namespace orvanta::AudioAnalyzer
