#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "engine/ProcessingTypes.h"
#include "platform/Error.h"

#include <filesystem>
#include <string>
#include <string_view>

// The quality analyzer's measuring engine: one audio file in, an AudioAnalysisResult out.
// The internal steps live in LevelAnalysis.h, LoudnessAnalysis.h, SpectrumAnalysis.h,
// StereoAnalysis.h and UseCaseRecommendation.h; the scores in PerceptualScores.h.
namespace orvanta::AudioAnalyzer {

inline constexpr int fftSize = 4096; // points of the spectral analysis
inline constexpr int hopSize = 2048; // samples between spectral frames

inline constexpr std::string_view errorDomain = "AudioAnalyzer";

enum class AnalyzerError : int {
    bufferCreationFailed = 1, // "Failed to create audio buffer"
    noAudioData = 2           // "No audio data found"
};
Error analyzerError(AnalyzerError code);

// Analyses the whole file: levels, loudness, clipping, stereo and spectral balance, use case, scores
// and spectrogram. The true-peak fields stay 0.0 / −120 dBTP (measureTruePeak fills them later).
// The file streams past in chunks, so memory is the same for any length (a few MB beside the
// spectrogram); a cut file is analysed as far as its audio goes. progress receives 0.02, 0.05, 0.08,
// 0.1, then rises with the share read to 0.75, then 0.85, 0.95, 1.0; isCancelled is asked between
// chunks. Synchronous; any thread. Throws the reader's Error for unreadable files or samples that are
// no audio, AnalyzerError when the working buffers cannot be made, Orvanta/4 for a file without frames, Orvanta/6
// when no 400 ms stretch rises above the −70 LUFS gate (too short or silent), and the cancellation
// error (Orvanta/100).
AudioAnalysisResult analyzeFile(const std::filesystem::path& path, const ProgressCallback& progress = {},
                                const CancellationQuery& isCancelled = {});

struct TruePeak {
    double truePeakLevel = 0.0; // largest 4x-oversampled magnitude over all channels, linear
    double truePeakDB = -120.0; // 20·log10(max(level, 1e−6)), dBTP
};

// The true peak of the whole file: every channel 4x oversampled (engine/TruePeakDetector.h), read in
// chunks, as far as the audio decodes. Synchronous; any thread. Throws the reader's Error and the
// cancellation error.
TruePeak measureTruePeak(const std::filesystem::path& path, const CancellationQuery& isCancelled = {});

} // namespace orvanta::AudioAnalyzer
