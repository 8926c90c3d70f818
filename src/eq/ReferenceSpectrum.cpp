#include "eq/ReferenceSpectrum.h"

#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/RealFft.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <future>
#include <limits>
#include <memory>
#include <new>

namespace orvanta {

namespace {

constexpr size_t frameSize = 8192;
constexpr size_t hopSize = 2048;
constexpr size_t binCount = frameSize / 2;
constexpr float curveRate = 44100.0f; // curve bins are mapped at this rate whatever the file's rate
constexpr int curvePoints = 100;

std::vector<float> requiredFloats(const nlohmann::json& object, const char* key) {
    const auto& value = object.at(key);
    if (!value.is_array()) throw std::invalid_argument(key);
    std::vector<float> result;
    result.reserve(value.size());
    for (const auto& item : value) {
        if (!item.is_number()) throw std::invalid_argument(key);
        result.push_back(item.get<float>());
    }
    return result;
}

// Frames per 10-second chunk and planned chunk count of an open file.
struct ChunkPlan {
    uint32_t chunkFrames = 0;
    int64_t chunks = 0;
};

ChunkPlan planChunks(const AudioFileReader& reader) {
    const float rate = static_cast<float>(reader.sampleRate());
    ChunkPlan plan;
    plan.chunkFrames = static_cast<uint32_t>(rate * 10.0f);
    const int64_t length = reader.lengthFrames();
    if (length > int64_t(std::numeric_limits<uint32_t>::max()))
        throw audioFileError(AudioFileErrorCode::unsupportedFormat, "File is too long to analyze");
    if (plan.chunkFrames > 0) plan.chunks = (length + plan.chunkFrames - 1) / plan.chunkFrames;
    return plan;
}

// Runs `perChunk` on each 10-second chunk of the file in order; returns the planned chunk count.
template <typename PerChunk>
int64_t forEachChunk(const std::filesystem::path& url, PerChunk&& perChunk) {
    AudioFileReader reader(url);
    const ChunkPlan plan = planChunks(reader);
    int64_t remaining = reader.lengthFrames();
    for (int64_t c = 0; c < plan.chunks; ++c) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(remaining, plan.chunkFrames));
        if (n == 0) break;
        AudioBuffer buffer;
        try {
            buffer = reader.makeBuffer(n);
        } catch (const std::bad_alloc&) {
            continue; // an unallocatable chunk is skipped
        }
        reader.read(buffer, n);
        remaining -= n;
        perChunk(buffer);
    }
    return plan.chunks;
}

Error unmatchableReferenceError(const std::string& reason, std::shared_ptr<const Error> cause = nullptr) {
    return Error(std::string(referenceTrackDomain), referenceUnmatchableCode,
                 "The reference cannot be matched: " + reason, std::move(cause));
}

} // namespace

std::string encodeSpectralProfile(const SpectralProfile& profile) {
    nlohmann::json object = {{"frequencies", profile.frequencies},
                                   {"magnitudes", profile.magnitudes},
                                   {"referenceFileName", profile.referenceFileName},
                                   {"dateCreated", profile.dateCreated},
                                   {"spectrum12Band", profile.spectrum12Band}};
    if (profile.tonalBalance) {
        nlohmann::json levels = nlohmann::json::array();
        for (size_t k = 0; k < profile.tonalBalance->levelsDb.size(); ++k) {
            if (profile.tonalBalance->hasContent(k)) levels.push_back(profile.tonalBalance->levelsDb[k]);
            else levels.push_back(nullptr);
        }
        object["tonalBalance"] = std::move(levels);
    }
    return object.dump();
}

namespace {

// The stored balance: balanceBandCount numbers or nulls; none for anything else.
std::optional<TonalBalance> decodeTonalBalance(const nlohmann::json& object) {
    const auto found = object.find("tonalBalance");
    if (found == object.end() || !found->is_array() || found->size() != balanceBandCount) return std::nullopt;
    TonalBalance balance;
    for (const auto& item : *found) {
        if (item.is_null()) balance.levelsDb.push_back(std::numeric_limits<float>::quiet_NaN());
        else if (item.is_number()) balance.levelsDb.push_back(item.get<float>());
        else return std::nullopt;
    }
    return balance;
}

} // namespace

std::optional<SpectralProfile> decodeSpectralProfile(const std::string& json) {
    try {
        const auto object = nlohmann::json::parse(json);
        SpectralProfile profile;
        profile.frequencies = requiredFloats(object, "frequencies");
        profile.magnitudes = requiredFloats(object, "magnitudes");
        const auto& name = object.at("referenceFileName");
        if (!name.is_string()) return std::nullopt;
        profile.referenceFileName = name.get<std::string>();
        const auto& date = object.at("dateCreated");
        if (!date.is_number()) return std::nullopt;
        profile.dateCreated = date.get<double>();
        profile.spectrum12Band = requiredFloats(object, "spectrum12Band");
        profile.tonalBalance = decodeTonalBalance(object);
        return profile;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

double secondsSinceReferenceDate() {
    // 2001-01-01 00:00:00 UTC is 978307200 s after the Unix epoch.
    constexpr double referenceEpoch = 978307200.0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() - referenceEpoch;
}

std::vector<float> averagedMagnitudeSpectrum(const AudioBuffer& buffer) {
    if (!buffer.hasFloatData()) return {};
    RealFft fft(frameSize);
    static const std::vector<float> window = hannWindow(frameSize, 0.5);

    const uint32_t length = buffer.frameLength();
    const int64_t numFrames = std::max<int64_t>(1, (int64_t(length) - int64_t(frameSize)) / int64_t(hopSize));
    const float* samples = buffer.channel(0);

    std::vector<float> accumulator(binCount, 0.0f);
    std::vector<float> frame(frameSize);
    std::vector<float> magnitudes(binCount);
    for (int64_t k = 0; k < numFrames; ++k) {
        const size_t start = size_t(k) * hopSize;
        if (start + frameSize > length) break;
        for (size_t n = 0; n < frameSize; ++n) frame[n] = samples[start + n] * window[n];
        fft.packedMagnitudes(frame.data(), magnitudes.data());
        for (size_t b = 0; b < binCount; ++b) accumulator[b] += magnitudes[b];
    }
    const float divisor = static_cast<float>(numFrames);
    for (float& value : accumulator) value /= divisor;
    return accumulator;
}

namespace {

// The 100-point curve of an averaged spectrum (averagedMagnitudeSpectrum).
SpectrumCurve curveOf(const std::vector<float>& spectrum) {
    SpectrumCurve curve;
    if (spectrum.empty()) return curve;
    curve.frequencies.reserve(curvePoints);
    curve.levels.reserve(curvePoints);
    for (int k = 0; k < curvePoints; ++k) {
        const float f = std::pow(10.0f, float(k) / 99.0f * 3.0f + 1.30103f);
        const int bin = static_cast<int>(f * float(frameSize) / curveRate);
        float sum = 0.0f;
        int count = 0;
        for (int b = bin - 3; b <= bin + 3; ++b) {
            if (b < 0 || b >= int(binCount)) continue;
            sum += spectrum[size_t(b)];
            ++count;
        }
        float mean = count > 0 ? sum / float(count) : 0.0f;
        if (mean <= 1e-10f) mean = 1e-10f;
        if (bin < int(binCount)) {
            curve.frequencies.push_back(f);
            curve.levels.push_back(20.0f * std::log10(mean));
        }
    }
    return curve;
}

// The 12 band decibels of an averaged spectrum at `sampleRate`; −200 dB where a band has no bins.
BandDecibels bandDecibelsOf(const std::vector<float>& spectrum, float sampleRate) {
    constexpr float silentDb = -200.0f;
    BandDecibels decibels;
    decibels.fill(silentDb);
    if (spectrum.empty()) return decibels;
    for (size_t i = 0; i < bandCenterFrequencies.size(); ++i) {
        const std::optional<BandBins> bins = bandLevelBins(bandCenterFrequencies[i], sampleRate);
        // At low sample rates the top bands start beyond the last bin: they have no energy to show.
        if (!bins) continue;
        float sum = 0.0f;
        for (int b = bins->lo; b <= bins->hi; ++b) sum += spectrum[size_t(b)];
        const float mean = sum / float(bins->hi - bins->lo + 1);
        decibels[i] = 20.0f * std::log10(std::max(mean, 1e-10f));
    }
    return decibels;
}

BandLevels levelsOf(const BandDecibels& decibels) {
    BandLevels levels{};
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = std::clamp((decibels[i] - levelFloorDb) / levelSpanDb * levelScaleTop, 0.0f, levelScaleTop);
    return levels;
}

} // namespace

SpectrumCurve analyzeSpectrum(const AudioBuffer& buffer) { return curveOf(averagedMagnitudeSpectrum(buffer)); }

BandDecibels computeBandDecibels(const AudioBuffer& buffer) {
    std::vector<float> spectrum;
    try {
        spectrum = averagedMagnitudeSpectrum(buffer);
    } catch (const Error&) {
        spectrum.clear(); // no FFT setup
    }
    return bandDecibelsOf(spectrum, static_cast<float>(buffer.sampleRate()));
}

BandLevels computeBandLevels(const AudioBuffer& buffer) { return levelsOf(computeBandDecibels(buffer)); }

std::optional<BandBins> bandLevelBins(float centreHz, float sampleRate) {
    const float f = centreHz;
    BandBins bins;
    bins.lo = std::max(static_cast<int>((f - 0.3f * f) * float(frameSize) / sampleRate), 0);
    bins.hi = std::min(static_cast<int>((f + 0.3f * f) * float(frameSize) / sampleRate), int(binCount) - 1);
    if (bins.lo > bins.hi) return std::nullopt;
    return bins;
}

float spectrumBinFrequency(int bin, float sampleRate) { return float(bin) * sampleRate / float(frameSize); }

BandLevels compute12BandSpectrum(const std::filesystem::path& url) { return compute12BandSpectrum(url, nullptr); }

int64_t forEachSpectrumChunk(const std::filesystem::path& url, const std::function<void(AudioBuffer&)>& perChunk) {
    return forEachChunk(url, perChunk);
}

BandLevels compute12BandSpectrum(const std::filesystem::path& url, const ChunkTransform& transform) {
    BandLevels sum{};
    const int64_t chunks = forEachChunk(url, [&](AudioBuffer& chunk) {
        if (transform) transform(chunk);
        const BandLevels levels = computeBandLevels(chunk);
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += levels[i];
    });
    if (chunks > 0)
        for (float& value : sum) value /= float(chunks);
    return sum;
}

ReferenceAnalysis analyzeReferenceFile(const std::filesystem::path& url) {
    // The loudness is measured on a thread of its own, beside one read of the file for the rest: each
    // chunk's averaged spectrum (the curve and the 12 band levels), computed beside its tonal balance.
    std::future<AudioStats> loudness = std::async(std::launch::async | std::launch::deferred,
                                                  [&url] { return analyzeAudioFile(url, WorkThreads::oneThread); });
    std::vector<float> frequencies;
    std::vector<std::vector<float>> chunkLevels;
    std::optional<TonalBalanceMeter> balance;
    BandLevels bands{};
    int64_t plannedChunks = 0;
    std::exception_ptr spectrumFailure;
    try {
        plannedChunks = forEachChunk(url, [&](const AudioBuffer& chunk) {
            std::future<std::vector<float>> spectrum = std::async(
                std::launch::async | std::launch::deferred, [&chunk] { return averagedMagnitudeSpectrum(chunk); });
            if (!balance) balance.emplace(chunk.sampleRate());
            balance->add(chunk);
            const std::vector<float> averaged = spectrum.get();
            SpectrumCurve curve = curveOf(averaged);
            if (chunkLevels.empty()) frequencies = curve.frequencies;
            chunkLevels.push_back(std::move(curve.levels));
            const BandLevels levels = levelsOf(bandDecibelsOf(averaged, static_cast<float>(chunk.sampleRate())));
            for (size_t i = 0; i < bands.size(); ++i) bands[i] += levels[i];
        });
    } catch (...) {
        spectrumFailure = std::current_exception();
    }
    // The loudness's own failures come first, as they would measuring it alone.
    const AudioStats stats = loudness.get();
    if (stats.measurability != Measurability::measurable) {
        throw unmatchableReferenceError(stats.measurability == Measurability::silent
                                            ? "it is silent (no 0.4 s stretch rises above -70 LUFS)"
                                            : "it is too short to measure (at least 0.4 s of sound is needed)",
                                        std::make_shared<Error>(unmeasurableAudioError(stats.measurability)));
    }
    if (spectrumFailure) std::rethrow_exception(spectrumFailure);
    ReferenceAnalysis analysis;
    analysis.lufs = stats.lufs;
    if (chunkLevels.empty()) throw Error(std::string(referenceTrackDomain), 1, "Failed to analyze track");
    for (float& value : bands) value /= float(plannedChunks);

    std::vector<float> levels(frequencies.size(), 0.0f);
    for (size_t p = 0; p < levels.size(); ++p) {
        float sum = 0.0f;
        for (const auto& chunk : chunkLevels) sum += p < chunk.size() ? chunk[p] : 0.0f;
        levels[p] = sum / float(chunkLevels.size());
    }
    // Levels all at the floor: shorter than one analysis frame, or too quiet in every band.
    if (std::all_of(bands.begin(), bands.end(), [](float level) { return level <= 0.0f; })) {
        throw unmatchableReferenceError("it is too short or too quiet for a spectrum to compare");
    }
    TonalBalance tonalBalance = balance->result();
    if (tonalBalance.contentBandCount() == 0)
        throw unmatchableReferenceError("it is too short or too quiet for a spectrum to compare");

    analysis.profile.frequencies = std::move(frequencies);
    analysis.profile.magnitudes = std::move(levels);
    analysis.profile.referenceFileName = url.filename().string();
    analysis.profile.dateCreated = secondsSinceReferenceDate();
    analysis.profile.spectrum12Band.assign(bands.begin(), bands.end());
    analysis.profile.tonalBalance = std::move(tonalBalance);
    return analysis;
}

std::vector<EQBand> matchReferenceEQ(const BandLevels& reference, const BandLevels& file) {
    std::vector<EQBand> bands = defaultBands();
    for (size_t i = 0; i < bands.size() && i < reference.size(); ++i)
        bands[i].gain = (i == 10 || i == 11) ? 0.0f : reference[i] - file[i];
    return bands;
}

EQSettings matchedEQSettings(const BandLevels& reference, const BandLevels& file) {
    EQSettings settings;
    settings.bands = matchReferenceEQ(reference, file);
    settings.isEnabled = true;
    settings.masterGain = 0.0f;
    settings.isAutoReferenceMode = true;
    return settings;
}

} // namespace orvanta
