#include "engine/TempoDetector.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <new>
#include <unordered_map>

namespace orvanta {

namespace {

constexpr double fallbackBPM = 120.0;
constexpr float piAsFloat = 3.1415925f;

// Tempo estimates by file for the life of the process. Only plausible tempi are kept. It stays
// process-wide on purpose: it is a memo of a pure function of the file's bytes, keyed by the file's
// identity (path, size, modification time), so no caller can see whether an answer was cached, and
// sharing it lets the window's re-master and the reference pass skip a second estimate.
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

// A file rewritten in place (same path, new bytes) gets a new key: its old tempo is not its tempo.
std::string cacheKey(const std::filesystem::path& url) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(url, ec);
    std::string key = (ec ? url : absolute).lexically_normal().string();
    const auto size = std::filesystem::file_size(url, ec);
    if (!ec) key += '\n' + std::to_string(size);
    const auto modified = std::filesystem::last_write_time(url, ec);
    if (!ec) key += '\n' + std::to_string(modified.time_since_epoch().count());
    return key;
}

int roundHalfAway(double value) { return int(std::round(value)); }

// The RMS of every whole chunk of a stream of samples, each chunk summed in order; fed piece by piece,
// so that no more than the envelope itself is held.
class EnergyEnvelopeBuilder {
public:
    EnergyEnvelopeBuilder(int chunkSize, size_t expectedChunks) : chunkSize_(chunkSize) {
        envelope_.reserve(expectedChunks);
    }

    void add(const float* samples, size_t count) {
        for (size_t k = 0; k < count; ++k) {
            sum_ += samples[k] * samples[k];
            if (++filled_ == chunkSize_) {
                envelope_.push_back(std::sqrt(std::max(sum_ / float(chunkSize_), 0.0f)));
                sum_ = 0.0f;
                filled_ = 0;
            }
        }
    }

    // The chunks so far (a partial last chunk is dropped), padded with zeros to `chunks`, scaled to a
    // peak of 1.
    std::vector<float> finish(size_t chunks) {
        envelope_.resize(chunks, 0.0f);
        float maximum = 0.0f;
        for (float v : envelope_) maximum = std::max(maximum, v);
        if (maximum > 0) {
            for (float& v : envelope_) v /= maximum;
        }
        return std::move(envelope_);
    }

private:
    int chunkSize_;
    int filled_ = 0;
    float sum_ = 0.0f;
    std::vector<float> envelope_;
};

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
        const uint32_t channels = reader.channelCount();
        if (frames < 1025 || channels == 0) {
            return fallbackBPM;
        }
        // The first two minutes, mixed to mono and reduced to the envelope piece by piece: the whole
        // excerpt of a many-channel, high-rate file would take hundreds of megabytes.
        constexpr uint32_t pieceFrames = 1u << 16;
        const int chunkSize = BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE;
        AudioBuffer piece = reader.makeBuffer(uint32_t(std::min<int64_t>(frames, pieceFrames)));
        std::vector<float> mix(piece.frameCapacity());
        EnergyEnvelopeBuilder envelope(chunkSize, size_t(frames / chunkSize));
        const float scale = float(1.0 / double(channels));
        int64_t read = 0;
        while (read < frames) {
            const uint32_t wanted = uint32_t(std::min<int64_t>(frames - read, piece.frameCapacity()));
            const uint32_t got = reader.read(piece, wanted);
            std::fill(mix.begin(), mix.begin() + got, 0.0f);
            for (uint32_t c = 0; c < channels; ++c) {
                const float* samples = piece.channel(c);
                for (uint32_t i = 0; i < got; ++i) {
                    mix[i] += samples[i];
                }
            }
            if (channels > 1) {
                for (uint32_t i = 0; i < got; ++i) {
                    mix[i] *= scale;
                }
            }
            envelope.add(mix.data(), got);
            read += got;
            if (got < wanted) {
                break; // the file ended early: what was read is the excerpt
            }
        }
        if (read == 0 || chunkSize >= read) {
            return fallbackBPM;
        }
        const std::vector<float> energy = envelope.finish(size_t(read / chunkSize));
        const double tempo = estimateTempo(energy, chunkSize, sampleRate);
        if (tempo > 0) {
            return tempo;
        }
        const double halfChunk = estimateTempo(energy, chunkSize / 2, sampleRate);
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
    EnergyEnvelopeBuilder envelope(chunkSize, size_t(n));
    envelope.add(samples.data(), std::min(size_t(n) * size_t(chunkSize), samples.size()));
    return envelope.finish(size_t(n));
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
