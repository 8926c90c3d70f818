#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "engine/ProcessingTypes.h"

#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace orvanta::AudioAnalyzer {

struct BandDefinition {
    std::string_view name;
    double lowFreq = 0;  // Hz
    double highFreq = 0; // Hz
    int lowBin = 0;      // first FFT bin, inclusive
    int highBin = 0;     // last FFT bin, inclusive (shared with the next band's lowBin)
};

// The five balance bands (subBass 20–60, bass 60–250, lowMid 250–500, mid 500–2000,
// highMid 2000–4000 Hz) with their bins for a 4096-point FFT at this rate.
std::array<BandDefinition, 5> bandDefinitions(double sampleRate);

// A-weighting gain (linear, 0 dB at 1 kHz) of FFT bins 0…2047; 0 below 20 Hz.
std::vector<float> aWeightingTable(double sampleRate);

struct SpectrumAnalysis {
    AudioAnalysisResult::SpectralBalance balance; // A-weighted band shares
    SpectrogramData spectrogram;                  // dB grid of the unweighted magnitudes
};

// The frame loop of analyzeSpectrum, a frame at a time, for an analysis that streams its file.
// Sized on construction for `monoSamples` (the spectrogram keeps every d-th frame of them); adding
// a frame allocates nothing. Throws Error (domain "FFT") when no transform can be made. Any thread.
class SpectrumAccumulator {
public:
    SpectrumAccumulator(double sampleRate, size_t monoSamples);
    ~SpectrumAccumulator();
    SpectrumAccumulator(SpectrumAccumulator&&) noexcept;

    // The fftSize mono samples of the frame starting at `startSample`; frames come in order, hopSize apart.
    void addFrame(size_t startSample, const float* samples);
    size_t frameCount() const noexcept;
    // The balance and spectrogram of the frames added (zero and empty without energy).
    SpectrumAnalysis finish() &&;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Hann-windowed 4096-point frames every 2048 samples: average A-weighted band levels and the
// spectrogram. Zero balance and the empty spectrogram for fewer than 4096 samples or no energy.
// progress receives frames ÷ F every 50 frames, F = (n − 4096) ÷ 2048 (1 when n < 6144), at most 1.
// Any thread; throws only the cancellation error.
SpectrumAnalysis analyzeSpectrum(const std::vector<float>& mono, double sampleRate,
                                 const ProgressCallback& progress = {}, const CancellationQuery& isCancelled = {});

} // namespace orvanta::AudioAnalyzer
