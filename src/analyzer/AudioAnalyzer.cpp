#include "analyzer/AudioAnalyzer.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/LevelAnalysis.h"
#include "analyzer/LoudnessAnalysis.h"
#include "analyzer/PerceptualScores.h"
#include "analyzer/SpectrumAnalysis.h"
#include "analyzer/StereoAnalysis.h"
#include "analyzer/UseCaseRecommendation.h"
#include "analyzer/VectorMath.h"
#include "engine/ProcessingErrors.h"
#include "engine/TruePeakDetector.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

namespace orvanta::AudioAnalyzer {

namespace {

constexpr uint32_t chunkFrames = 16384; // frames read at a time, a whole number of 2048-sample hops

// The mono mix and what is measured on it, as the file streams past: peak, RMS, clipping, and over
// 4096-sample windows every 2048 samples the dynamic range's levels and the spectral frames. Between
// chunks it holds the unfinished window only, never the file.
class MonoMeasures {
public:
    MonoMeasures(double sampleRate, size_t monoSamples) {
        window_.reserve(chunkFrames + size_t(fftSize));
        if (monoSamples < size_t(fftSize)) return; // no spectral frame: zero balance, empty spectrogram
        try {
            spectrum_.emplace(sampleRate, monoSamples);
        } catch (const Error&) {
            // No FFT: no balance, no spectrogram; the other measures still stand.
        }
    }

    void add(const AudioBuffer& chunk, uint32_t frames) {
        const size_t start = window_.size();
        window_.resize(start + frames, 0.0f);
        float* mono = window_.data() + start;
        const uint32_t channels = chunk.channelCount();
        if (channels == 1) {
            std::copy_n(chunk.channel(0), frames, mono);
        } else {
            for (uint32_t c = 0; c < channels; ++c) {
                const float* source = chunk.channel(c);
                for (uint32_t i = 0; i < frames; ++i) mono[i] += source[i];
            }
            const float scale = 1.0f / float(channels);
            for (uint32_t i = 0; i < frames; ++i) mono[i] *= scale;
        }
        peak_ = std::max(peak_, vector_math::maxMagnitude(mono, frames));
        squares_ += double(vector_math::sumOfSquares(mono, frames));
        for (uint32_t i = 0; i < frames; ++i) clipped_ += std::fabs(mono[i]) >= 1.0f ? 1 : 0;
        samples_ += frames;

        size_t offset = 0; // of the next window in window_
        while (offset + size_t(fftSize) <= window_.size()) {
            const float* frame = window_.data() + offset;
            windowLevels_.push_back(vector_math::rms(frame, dynamicRangeWindow));
            if (spectrum_) spectrum_->addFrame(size_t(windowStart_) + offset, frame);
            offset += size_t(hopSize);
        }
        window_.erase(window_.begin(), window_.begin() + std::ptrdiff_t(offset));
        windowStart_ += int64_t(offset);
    }

    float peak() const noexcept { return peak_; }
    float rms() const noexcept { return samples_ > 0 ? float(std::sqrt(squares_ / double(samples_))) : 0.0f; }
    ClippingMeasurement clipping() const noexcept {
        return {int(clipped_), samples_ > 0 ? double(clipped_) / double(samples_) : 0.0};
    }
    double dynamicRange() const { return dynamicRangeOfWindows(windowLevels_); }
    SpectrumAnalysis spectrum() && { return spectrum_ ? std::move(*spectrum_).finish() : SpectrumAnalysis{}; }

private:
    std::vector<float> window_;       // mono samples from windowStart_ on, not yet a whole window
    int64_t windowStart_ = 0;         // sample index of window_[0]
    std::vector<float> windowLevels_; // RMS of each 4096-sample window, 2 KB per minute
    std::optional<SpectrumAccumulator> spectrum_;
    float peak_ = 0.0f;
    double squares_ = 0.0;
    int64_t clipped_ = 0;
    int64_t samples_ = 0;
};

} // namespace

Error analyzerError(AnalyzerError code) {
    const char* description =
        code == AnalyzerError::bufferCreationFailed ? "Failed to create audio buffer" : "No audio data found";
    return Error(std::string(errorDomain), int(code), description);
}

AudioAnalysisResult analyzeFile(const std::filesystem::path& path, const ProgressCallback& progress,
                                const CancellationQuery& isCancelled) {
    report(progress, 0.02);
    throwIfCancelled(isCancelled);
    AudioFileReader reader(path);
    report(progress, 0.05);
    const double sampleRate = reader.sampleRate();
    const uint32_t channelCount = reader.channelCount();
    const int64_t length = reader.lengthFrames(); // what decodes, whatever the header claims

    // One chunk of the file at a time: memory stays the same for any length.
    AudioBuffer buffer;
    std::optional<MonoMeasures> mono;
    std::optional<LoudnessAccumulator> loudnessMeter;
    try {
        buffer = reader.makeBuffer(chunkFrames);
        mono.emplace(sampleRate, size_t(length));
        loudnessMeter.emplace(sampleRate, channelCount, length);
    } catch (const std::bad_alloc&) {
        throw analyzerError(AnalyzerError::bufferCreationFailed);
    }
    StereoAccumulator stereo;
    report(progress, 0.08);
    report(progress, 0.1);

    int64_t frames = 0;
    while (true) {
        throwIfCancelled(isCancelled);
        const uint32_t got = reader.read(buffer, chunkFrames);
        if (got == 0) break;
        mono->add(buffer, got);
        loudnessMeter->add(buffer, got);
        if (channelCount >= 2) stereo.add(buffer.channel(0), buffer.channel(1), got);
        frames += got;
        report(progress, 0.1 + 0.65 * std::min(1.0, double(frames) / double(std::max<int64_t>(length, 1))));
        yieldToScheduler();
    }
    // Scores of audio without a measurable loudness would be judgements of nothing.
    if (frames == 0) throw emptyFileError();
    const LoudnessMeasurement loudness = loudnessMeter->finish(frames);
    if (loudness.measurability != Measurability::measurable) throw unmeasurableAudioError(loudness.measurability);

    const float peak = mono->peak();
    const float rms = mono->rms();
    const ClippingMeasurement clipping = mono->clipping();
    const double dynamicRange = mono->dynamicRange();
    // The true peak is not known yet, so the note never carries the peak sentence here.
    const UseCaseRecommendation recommendation = recommendUseCase(loudness.integrated, -120.0);
    SpectrumAnalysis spectrum = std::move(*mono).spectrum();

    report(progress, 0.75);
    throwIfCancelled(isCancelled);
    AudioAnalysisResult result;
    const Balance& balance = spectrum.balance;
    result.warmth = warmthScore(balance);
    result.clarity = clarityScore(balance);
    result.dynamics = dynamicsScore(dynamicRange, crestFactor(peak, rms));
    result.spaciousness = spaciousnessScore(channelCount >= 2 ? stereo.correlation() : StereoCorrelation{});
    report(progress, 0.85);

    result.macBookScore = macBookScore(balance, result.dynamics, result.clarity, result.warmth);
    result.paSystemScore =
        paSystemScore(balance, result.dynamics, result.clarity, result.warmth, loudness.integrated);
    OverallScoreInputs overall;
    overall.warmth = result.warmth;
    overall.clarity = result.clarity;
    overall.dynamics = result.dynamics;
    overall.spaciousness = result.spaciousness;
    overall.macBookScore = result.macBookScore;
    overall.paSystemScore = result.paSystemScore;
    overall.lufsIntegrated = loudness.integrated;
    overall.recommendedTargetLUFS = recommendation.recommendedTargetLUFS;
    overall.peakLevel = peak;
    overall.clippingFraction = clipping.clippingFraction;
    result.overallScore = overallScore(overall);
    report(progress, 0.95);

    const MidSideMeasurement midSide = channelCount >= 2 ? stereo.midSide() : MidSideMeasurement{};

    auto& details = result.analysisDetails;
    details.sampleRate = sampleRate;
    details.duration = double(frames) / sampleRate;
    details.channels = int(channelCount);
    details.peakLevel = peak;
    details.rmsLevel = rms;
    details.lufsIntegrated = loudness.integrated;
    details.lufsMomentaryMax = loudness.momentaryMax;
    details.lufsShortTermMax = loudness.shortTermMax;
    details.truePeakLevel = 0.0;
    details.truePeakDB = -120.0;
    details.clippingCount = clipping.clippingCount;
    details.clippingPercent = clipping.clippingFraction;
    details.midEnergyRatio = midSide.midRatio;
    details.sideEnergyRatio = midSide.sideRatio;
    details.stereoWidth = midSide.width;
    details.recommendedUseCase = recommendation.recommendedUseCase;
    details.recommendedTargetLUFS = recommendation.recommendedTargetLUFS;
    details.recommendationNote = recommendation.recommendationNote;
    details.spectralBalance = balance;
    result.spectrogramData = std::move(spectrum.spectrogram);
    report(progress, 1.0);
    return result;
}

TruePeak measureTruePeak(const std::filesystem::path& path, const CancellationQuery& isCancelled) {
    AudioFileReader reader(path);
    constexpr uint32_t chunk = 1u << 16;
    AudioBuffer buffer = reader.makeBuffer(chunk);
    TruePeakDetector detector(int(reader.channelCount()));
    const int64_t length = reader.lengthFrames();
    int64_t done = 0;
    while (done < length) {
        throwIfCancelled(isCancelled);
        const uint32_t got = reader.read(buffer, chunk);
        if (got == 0) break; // the audio ended: what decoded is the file, as everywhere else
        for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
            detector.process(int(c), buffer.channel(c), got, nullptr);
        }
        done += got;
    }
    for (uint32_t c = 0; c < reader.channelCount(); ++c) {
        detector.flush(int(c), nullptr);
    }
    TruePeak result;
    result.truePeakLevel = detector.maximum();
    result.truePeakDB = 20.0 * std::log10(std::max(result.truePeakLevel, 1e-6));
    return result;
}

} // namespace orvanta::AudioAnalyzer
