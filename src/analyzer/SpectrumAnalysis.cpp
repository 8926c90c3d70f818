#include "analyzer/SpectrumAnalysis.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/AudioAnalyzer.h"
#include "analyzer/Spectrogram.h"
#include "analyzer/VectorMath.h"
#include "platform/RealFft.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace orvanta::AudioAnalyzer {

namespace {

constexpr size_t binCount = size_t(fftSize) / 2;

struct BandRange {
    double lowFreq, highFreq;
};
constexpr std::string_view bandNames[5] = {"subBass", "bass", "lowMid", "mid", "highMid"};
constexpr BandRange bandRanges[5] = {{20, 60}, {60, 250}, {250, 500}, {500, 2000}, {2000, 4000}};

} // namespace

std::array<BandDefinition, 5> bandDefinitions(double sampleRate) {
    const double binWidth = sampleRate / double(fftSize);
    std::array<BandDefinition, 5> bands;
    for (size_t b = 0; b < bands.size(); ++b) {
        auto& band = bands[b];
        band.name = bandNames[b];
        band.lowFreq = bandRanges[b].lowFreq;
        band.highFreq = bandRanges[b].highFreq;
        band.lowBin = std::max(int(band.lowFreq / binWidth), 0);
        band.highBin = std::min(int(band.highFreq / binWidth), int(binCount) - 1);
    }
    return bands;
}

std::vector<float> aWeightingTable(double sampleRate) {
    std::vector<float> weights(binCount, 0.0f);
    const float rate = float(sampleRate);
    for (size_t k = 0; k < binCount; ++k) {
        const float f = float(k) * rate / float(fftSize);
        if (f < 20.0f) {
            continue;
        }
        const float f2 = f * f;
        const float d = (f2 + 12194.0f * 12194.0f) * (f2 + 20.6f * 20.6f) *
                        std::sqrt((f2 + 107.7f * 107.7f) * (f2 + 737.9f * 737.9f));
        const float aDB = d <= 0.0f ? -100.0f : 20.0f * std::log10(12194.0f * 12194.0f * (f2 * f2) / d) + 2.0f;
        weights[k] = std::pow(10.0f, aDB / 20.0f);
    }
    return weights;
}

struct SpectrumAccumulator::State {
    State(double sampleRate, size_t monoSamples)
        : fft(size_t(fftSize)), window(hannWindow(size_t(fftSize), std::sqrt(2.0 / 3.0))),
          weights(aWeightingTable(sampleRate)), bands(bandDefinitions(sampleRate)),
          spectrogram(sampleRate, monoSamples, binCount), frame(size_t(fftSize)), magnitudes(binCount),
          weighted(binCount) {}

    RealFft fft;
    std::vector<float> window;
    std::vector<float> weights;
    std::array<BandDefinition, 5> bands;
    SpectrogramBuilder spectrogram;
    std::vector<float> frame;
    std::vector<float> magnitudes;
    std::vector<float> weighted;
    double accumulators[5] = {};
    size_t frameCount = 0;
};

SpectrumAccumulator::SpectrumAccumulator(double sampleRate, size_t monoSamples)
    : state_(std::make_unique<State>(sampleRate, monoSamples)) {}
SpectrumAccumulator::~SpectrumAccumulator() = default;
SpectrumAccumulator::SpectrumAccumulator(SpectrumAccumulator&&) noexcept = default;

size_t SpectrumAccumulator::frameCount() const noexcept { return state_->frameCount; }

void SpectrumAccumulator::addFrame(size_t startSample, const float* samples) {
    State& s = *state_;
    for (size_t i = 0; i < size_t(fftSize); ++i) s.frame[i] = samples[i] * s.window[i];
    s.fft.packedMagnitudes(s.frame.data(), s.magnitudes.data());
    // The packed transform holds twice the DFT; ÷ 2048 leaves |X_k| ÷ 1024.
    constexpr float magnitudeScale = 1.0f / 2048.0f;
    for (size_t k = 0; k < binCount; ++k) {
        s.magnitudes[k] *= magnitudeScale;
        s.weighted[k] = s.magnitudes[k] * s.weights[k];
    }
    if (s.spectrogram.storesFrame(s.frameCount)) s.spectrogram.addColumn(startSample, s.magnitudes.data());
    for (size_t b = 0; b < s.bands.size(); ++b) {
        const auto& band = s.bands[b];
        if (band.highBin < band.lowBin) continue;
        const size_t count = size_t(band.highBin - band.lowBin + 1);
        const float energy = vector_math::sumOfSquares(s.weighted.data() + band.lowBin, count);
        s.accumulators[b] += double(std::sqrt(energy / float(count)));
    }
    ++s.frameCount;
}

SpectrumAnalysis SpectrumAccumulator::finish() && {
    State& s = *state_;
    SpectrumAnalysis result;
    double averages[5];
    double total = 0.0;
    for (size_t b = 0; b < 5; ++b) {
        averages[b] = s.accumulators[b] / double(s.frameCount);
        total += averages[b];
    }
    if (!(total > 0.0)) {
        return result; // no band energy: zero balance, empty spectrogram
    }
    result.balance.subBass = averages[0] / total;
    result.balance.bass = averages[1] / total;
    result.balance.lowMid = averages[2] / total;
    result.balance.mid = averages[3] / total;
    result.balance.highMid = averages[4] / total;
    result.spectrogram = std::move(s.spectrogram).finish();
    return result;
}

SpectrumAnalysis analyzeSpectrum(const std::vector<float>& mono, double sampleRate, const ProgressCallback& progress,
                                 const CancellationQuery& isCancelled) {
    const size_t n = mono.size();
    if (n < size_t(fftSize)) {
        return {};
    }
    std::optional<SpectrumAccumulator> spectrum;
    try {
        spectrum.emplace(sampleRate, n);
    } catch (const Error&) {
        return {}; // no FFT: no balance, no spectrogram
    }
    const double progressSpan = n < 6144 ? 1.0 : double((n - size_t(fftSize)) / size_t(hopSize));
    for (size_t start = 0; start + size_t(fftSize) <= n; start += size_t(hopSize)) {
        spectrum->addFrame(start, mono.data() + start);
        const size_t frameCount = spectrum->frameCount();
        if (frameCount % 25 == 0) {
            throwIfCancelled(isCancelled);
            yieldToScheduler();
        }
        if (frameCount % 50 == 0) {
            report(progress, std::min(double(frameCount) / progressSpan, 1.0));
        }
    }
    return std::move(*spectrum).finish();
}

} // namespace orvanta::AudioAnalyzer
