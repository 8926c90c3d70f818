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

namespace orvanta::AudioAnalyzer {

namespace {

// The whole file in one buffer. A reader that delivers fewer frames than the file declares
// means a damaged file: that is an error, not a shorter song.
AudioBuffer readWholeFile(AudioFileReader& reader) {
    const auto length = uint32_t(reader.lengthFrames());
    AudioBuffer buffer;
    try {
        // At least one frame of storage, so that an empty file still has channel data.
        buffer = reader.makeBuffer(std::max<uint32_t>(length, 1));
    } catch (const std::bad_alloc&) {
        throw analyzerError(AnalyzerError::bufferCreationFailed);
    }
    const uint32_t got = reader.read(buffer, length);
    if (got != length) {
        throw audioFileError(AudioFileErrorCode::readFailed,
                             "The file \"" + reader.path().string() + "\" ended after " + std::to_string(got) +
                                 " of its " + std::to_string(length) + " frames");
    }
    return buffer;
}

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
    const auto channelCount = int(reader.channelCount());
    const auto length = uint32_t(reader.lengthFrames());

    AudioBuffer buffer = readWholeFile(reader);
    report(progress, 0.08); // allocation and read are one step here; both points are still posted
    report(progress, 0.1);
    throwIfCancelled(isCancelled);

    const ProgressCallback monoProgress = [&progress](double f) { report(progress, 0.1 + 0.1 * f); };
    const std::vector<float> mono = mixToMono(buffer, progress ? monoProgress : ProgressCallback{}, isCancelled);
    if (!buffer.hasFloatData()) {
        throw analyzerError(AnalyzerError::noAudioData);
    }
    report(progress, 0.2);

    const float peak = vector_math::maxMagnitude(mono.data(), mono.size());
    const float rms = vector_math::rms(mono.data(), mono.size());
    const double dynamicRange = measureDynamicRange(mono);
    const ClippingMeasurement clipping = measureClipping(mono);

    const ProgressCallback loudnessProgress = [&progress](double f) { report(progress, 0.2 + 0.1 * f); };
    const LoudnessMeasurement loudness =
        measureLoudness(buffer, progress ? loudnessProgress : ProgressCallback{}, isCancelled);
    report(progress, 0.3);
    report(progress, 0.3);
    // Scores of audio without a measurable loudness would be judgements of nothing.
    if (length == 0) throw emptyFileError();
    if (loudness.measurability != Measurability::measurable) throw unmeasurableAudioError(loudness.measurability);

    // The true peak is not known yet, so the note never carries the peak sentence here.
    const UseCaseRecommendation recommendation = recommendUseCase(loudness.integrated, -120.0);

    const ProgressCallback spectrumProgress = [&progress](double f) { report(progress, 0.3 + 0.45 * f); };
    SpectrumAnalysis spectrum =
        analyzeSpectrum(mono, sampleRate, progress ? spectrumProgress : ProgressCallback{}, isCancelled);

    report(progress, 0.75);
    throwIfCancelled(isCancelled);
    AudioAnalysisResult result;
    const Balance& balance = spectrum.balance;
    result.warmth = warmthScore(balance);
    result.clarity = clarityScore(balance);
    result.dynamics = dynamicsScore(dynamicRange, crestFactor(peak, rms));
    result.spaciousness = spaciousnessScore(buffer);
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

    const MidSideMeasurement midSide = measureMidSide(buffer);

    auto& details = result.analysisDetails;
    details.sampleRate = sampleRate;
    details.duration = double(length) / sampleRate;
    details.channels = channelCount;
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
        if (got == 0) {
            throw audioFileError(AudioFileErrorCode::readFailed,
                                 "The file \"" + path.string() + "\" ended after " + std::to_string(done) +
                                     " of its " + std::to_string(length) + " frames");
        }
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
