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

SpectrumAnalysis analyzeSpectrum(const std::vector<float>& mono, double sampleRate, const ProgressCallback& progress,
                                 const CancellationQuery& isCancelled) {
    SpectrumAnalysis result;
    const size_t n = mono.size();
    if (n < size_t(fftSize)) {
        return result;
    }
    std::optional<RealFft> fft;
    try {
        fft.emplace(size_t(fftSize));
    } catch (const Error&) {
        return result; // no FFT: no balance, no spectrogram
    }

    const std::vector<float> window = hannWindow(size_t(fftSize), std::sqrt(2.0 / 3.0));
    const std::vector<float> weights = aWeightingTable(sampleRate);
    const auto bands = bandDefinitions(sampleRate);
    SpectrogramBuilder spectrogram(sampleRate, n, binCount);

    std::vector<float> frame(static_cast<size_t>(fftSize));
    std::vector<float> magnitudes(binCount);
    std::vector<float> weighted(binCount);
    double accumulators[5] = {};
    const double progressSpan = n < 6144 ? 1.0 : double((n - size_t(fftSize)) / size_t(hopSize));
    // The packed transform holds twice the DFT; ÷ 2048 leaves |X_k| ÷ 1024.
    constexpr float magnitudeScale = 1.0f / 2048.0f;

    size_t frameCount = 0;
    for (size_t start = 0; start + size_t(fftSize) <= n; start += size_t(hopSize)) {
        const float* source = mono.data() + start;
        for (size_t i = 0; i < size_t(fftSize); ++i) {
            frame[i] = source[i] * window[i];
        }
        fft->packedMagnitudes(frame.data(), magnitudes.data());
        for (size_t k = 0; k < binCount; ++k) {
            magnitudes[k] *= magnitudeScale;
            weighted[k] = magnitudes[k] * weights[k];
        }
        if (spectrogram.storesFrame(frameCount)) {
            spectrogram.addColumn(start, magnitudes.data());
        }
        for (size_t b = 0; b < bands.size(); ++b) {
            const auto& band = bands[b];
            if (band.highBin < band.lowBin) {
                continue;
            }
            const size_t count = size_t(band.highBin - band.lowBin + 1);
            const float energy = vector_math::sumOfSquares(weighted.data() + band.lowBin, count);
            accumulators[b] += double(std::sqrt(energy / float(count)));
        }

        ++frameCount;
        if (frameCount % 25 == 0) {
            throwIfCancelled(isCancelled);
            yieldToScheduler();
        }
        if (frameCount % 50 == 0) {
            report(progress, std::min(double(frameCount) / progressSpan, 1.0));
        }
    }

    double averages[5];
    double total = 0.0;
    for (size_t b = 0; b < 5; ++b) {
        averages[b] = accumulators[b] / double(frameCount);
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
    result.spectrogram = std::move(spectrogram).finish();
    return result;
}

} // namespace orvanta::AudioAnalyzer
