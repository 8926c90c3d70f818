#include "engine/TempoDetector.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"

#include <cmath>
#include <mutex>
#include <optional>
#include <new>
#include <unordered_map>

namespace orvanta {

namespace {

constexpr double fallbackBPM = 120.0;
constexpr float piAsFloat = 3.1415925f;

// Tempo estimates by file for the life of the process. Only plausible tempi are kept.
class TempoCache {
public:
    std::optional<double> find(const std::string& key) {
        std::lock_guard lock(mutex_);
        const auto it = values_.find(key);
        return it == values_.end() ? std::nullopt : std::optional<double>(it->second);
    }
    void store(const std::string& key, double bpm) {
        std::lock_guard lock(mutex_);
        values_[key] = bpm;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, double> values_;
};

TempoCache& tempoCache() {
    static TempoCache cache;
    return cache;
}

std::string cacheKey(const std::filesystem::path& url) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(url, ec);
    return (ec ? url : absolute).lexically_normal().string();
}

int roundHalfAway(double value) { return int(std::round(value)); }

double analyzeTempo(const std::filesystem::path& url) {
    std::error_code ec;
    if (!std::filesystem::exists(url, ec)) {
        return fallbackBPM;
    }
    try {
        AudioFileReader reader(url);
        const int64_t length = reader.lengthFrames();
        if (length == 0) {
            return fallbackBPM;
        }
        const double sampleRate = reader.sampleRate();
        const int64_t frames = std::min<int64_t>(length, int64_t(uint32_t(sampleRate * 120.0)));
        if (frames < 1025) {
            return fallbackBPM;
        }
        AudioBuffer buffer = reader.makeBuffer(uint32_t(frames));
        const uint32_t read = reader.read(buffer, uint32_t(frames));
        const uint32_t channels = buffer.channelCount();
        if (read == 0 || channels == 0) {
            return fallbackBPM;
        }
        std::vector<float> mix(read, 0.0f);
        for (uint32_t c = 0; c < channels; ++c) {
            const float* samples = buffer.channel(c);
            for (uint32_t i = 0; i < read; ++i) {
                mix[i] += samples[i];
            }
        }
        if (channels > 1) {
            const float scale = float(1.0 / double(channels));
            for (float& x : mix) {
                x *= scale;
            }
        }
        const auto envelope = computeEnergyEnvelope(mix, int(read), BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE);
        if (envelope.empty()) {
            return fallbackBPM;
        }
        const double tempo = estimateTempo(envelope, BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE, sampleRate);
        if (tempo > 0) {
            return tempo;
        }
        const double halfChunk = estimateTempo(envelope, BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE / 2, sampleRate);
        return halfChunk > 0 ? halfChunk : fallbackBPM;
    } catch (const Error&) {
        return fallbackBPM;
    } catch (const std::bad_alloc&) {
        return fallbackBPM;
    }
}

} // namespace

std::vector<float> computeEnergyEnvelope(const std::vector<float>& samples, int count, int chunkSize) {
    if (chunkSize < 1 || chunkSize >= count) {
        return {};
    }
    const int n = count / chunkSize;
    if (n < 1) {
        return {};
    }
    std::vector<float> envelope(size_t(n), 0.0f);
    for (int i = 0; i < n; ++i) {
        const int64_t begin = int64_t(i) * chunkSize;
        const int64_t end = std::min<int64_t>(begin + chunkSize, count);
        if (end <= begin || end > int64_t(samples.size())) {
            continue;
        }
        float sum = 0.0f;
        for (int64_t k = begin; k < end; ++k) {
            sum += samples[size_t(k)] * samples[size_t(k)];
        }
        envelope[size_t(i)] = std::sqrt(std::max(sum / float(end - begin), 0.0f));
    }
    float maximum = 0.0f;
    for (float v : envelope) {
        maximum = std::max(maximum, v);
    }
    if (maximum > 0) {
        for (float& v : envelope) {
            v /= maximum;
        }
    }
    return envelope;
}

double estimateTempo(const std::vector<float>& envelope, int chunkSize, double sampleRate) {
    if (envelope.empty() || chunkSize < 1 || sampleRate <= 0) {
        return fallbackBPM;
    }
    const double envelopeRate = sampleRate / double(chunkSize);
    if (!std::isfinite(envelopeRate) || envelopeRate <= 0) {
        return fallbackBPM;
    }
    float best = 0.0f;
    double bestBPM = 0.0;
    const size_t count = envelope.size();
    std::vector<float> sines(count), cosines(count);
    for (int bpm = BPMAnalyzer::MIN_BPM; bpm <= BPMAnalyzer::MAX_BPM; bpm += 2) {
        const float f = float((double(bpm) / 60.0) / envelopeRate);
        if (!(std::isfinite(f) && f > 0.0f)) {
            continue;
        }
        for (size_t k = 0; k < count; ++k) {
            const float argument = 2.0f * piAsFloat * f * float(k);
            sines[k] = std::isfinite(argument) ? std::sin(argument) : 0.0f;
            cosines[k] = std::isfinite(argument) ? std::cos(argument) : 0.0f;
        }
        float s = 0.0f, c = 0.0f;
        for (size_t k = 0; k < count; ++k) {
            s += envelope[k] * sines[k];
            c += envelope[k] * cosines[k];
        }
        const float magnitude = std::sqrt(s * s + c * c);
        if (std::isfinite(magnitude) && magnitude > best) {
            best = magnitude;
            bestBPM = bpm;
        }
    }
    return bestBPM > 0 ? bestBPM : fallbackBPM;
}

int detectTempo(const std::filesystem::path& url) {
    const std::string key = cacheKey(url);
    if (const auto cached = tempoCache().find(key)) {
        return roundHalfAway(*cached);
    }
    const double tempo = analyzeTempo(url);
    if (tempo >= BPMAnalyzer::MIN_BPM && tempo <= BPMAnalyzer::MAX_BPM) {
        tempoCache().store(key, tempo);
    }
    return roundHalfAway(tempo);
}

} // namespace orvanta
