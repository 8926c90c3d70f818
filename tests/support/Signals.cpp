#include "support/Signals.h"

#include "demo/DemoSong.h"
#include "support/VectorState.h"

#include <sndfile.h>

#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <tuple>

namespace orvanta::test {

std::vector<float> sine(double frequency, double amplitude, double sampleRate, size_t frames, double phase) {
    std::vector<float> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        out[i] = float(amplitude * std::sin(2.0 * std::numbers::pi * frequency * double(i) / sampleRate + phase));
    }
    return out;
}

std::vector<float> square(double frequency, double amplitude, double sampleRate, size_t frames) {
    std::vector<float> out(frames);
    const double period = sampleRate / frequency;
    for (size_t i = 0; i < frames; ++i) {
        out[i] = float(std::fmod(double(i), period) < period / 2 ? amplitude : -amplitude);
    }
    return out;
}

std::vector<float> silence(size_t frames) { return std::vector<float>(frames, 0.0f); }

std::vector<float> whiteNoise(double amplitude, size_t frames, uint32_t seed) {
    std::vector<float> out(frames);
    uint32_t state = seed * 747796405u + 2891336453u;
    for (size_t i = 0; i < frames; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[i] = float(amplitude * (double(state) / 2147483648.0 - 1.0));
    }
    return out;
}

std::vector<float> clickTrack(double bpm, double sampleRate, size_t frames, double amplitude) {
    std::vector<float> out(frames, 0.0f);
    const double interval = 60.0 / bpm * sampleRate;
    const auto burst = whiteNoise(1.0, size_t(sampleRate * 0.01), 7);
    for (double start = 0; start < double(frames); start += interval) {
        const size_t s = size_t(start);
        for (size_t j = 0; j < burst.size() && s + j < frames; ++j) {
            out[s + j] = float(amplitude * burst[j] * std::exp(-double(j) / (sampleRate * 0.002)));
        }
    }
    return out;
}

Channels replicate(const std::vector<float>& signal, size_t channelCount) { return Channels(channelCount, signal); }

void writeWav(const std::filesystem::path& path, const Channels& channels, double sampleRate, SampleFormat format) {
    SF_INFO info{};
    info.samplerate = int(sampleRate);
    info.channels = int(channels.size());
    info.format = SF_FORMAT_WAV | (format == SampleFormat::pcm16   ? SF_FORMAT_PCM_16
                                   : format == SampleFormat::pcm24 ? SF_FORMAT_PCM_24
                                                                   : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path.string() + ": " + sf_strerror(nullptr));
    }
    if (format != SampleFormat::float32) {
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<float> interleaved(frames * channels.size());
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels.size(); ++c) {
            interleaved[i * channels.size() + c] = channels[c][i];
        }
    }
    if (frames > 0) {
        sf_writef_float(file, interleaved.data(), sf_count_t(frames));
    }
    sf_close(file);
}

Channels readWithSndfile(const std::filesystem::path& path, double* sampleRate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path.string() + ": " + sf_strerror(nullptr));
    }
    std::vector<float> interleaved(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    Channels channels(size_t(info.channels), std::vector<float>(size_t(info.frames)));
    for (size_t i = 0; i < size_t(info.frames); ++i) {
        for (size_t c = 0; c < channels.size(); ++c) {
            channels[c][i] = interleaved[i * channels.size() + c];
        }
    }
    if (sampleRate != nullptr) {
        *sampleRate = info.samplerate;
    }
    return channels;
}

size_t frameCountOf(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path.string() + ": " + sf_strerror(nullptr));
    }
    sf_close(file);
    return size_t(info.frames);
}

AudioBuffer toBuffer(const Channels& channels, double sampleRate) {
    const uint32_t frames = channels.empty() ? 0 : uint32_t(channels[0].size());
    AudioBuffer buffer(AudioFormat{sampleRate, uint32_t(channels.size())}, frames);
    for (uint32_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), buffer.channel(c));
    }
    buffer.setFrameLength(frames);
    return buffer;
}

Channels fromBuffer(const AudioBuffer& buffer) {
    Channels channels(buffer.channelCount());
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
        channels[c].assign(buffer.channel(c), buffer.channel(c) + buffer.frameLength());
    }
    return channels;
}

namespace {

// Songs already synthesized in this process, by their parameters: tests often write the same song
// many times, and synthesis costs far more than writing the file. Bounded so that long songs and
// sanitizer builds do not hold too much memory.
class SongCache {
public:
    demo::DemoSong song(const demo::DemoSongParameters& parameters) {
        const Key key{parameters.durationSeconds, parameters.levelDB, parameters.seed, parameters.sampleRate};
        {
            std::lock_guard lock(mutex_);
            if (const auto found = songs_.find(key); found != songs_.end()) return found->second;
        }
        demo::DemoSong song = demo::synthesizeDemoSong(parameters);
        std::lock_guard lock(mutex_);
        const size_t samples = song.left.size() + song.right.size();
        if (cachedSamples_ + samples <= maxCachedSamples) {
            cachedSamples_ += samples;
            songs_.emplace(key, song);
        }
        return song;
    }

private:
    using Key = std::tuple<double, double, uint32_t, double>;
    static constexpr size_t maxCachedSamples = size_t(1) << 26; // 256 MB of float samples

    std::mutex mutex_;
    std::map<Key, demo::DemoSong> songs_;
    size_t cachedSamples_ = 0;
};

demo::DemoSong musicOf(double seconds, double levelDB, uint32_t seed, double sampleRate) {
    releaseVectorUpperHalves(); // synthesis is legacy-SSE code, often run after a window test
    static SongCache cache;
    demo::DemoSongParameters parameters;
    parameters.durationSeconds = seconds;
    parameters.levelDB = levelDB;
    parameters.seed = seed;
    parameters.sampleRate = sampleRate;
    return cache.song(parameters);
}

} // namespace

std::filesystem::path writeMusic(const std::filesystem::path& path, double seconds, double levelDB, uint32_t seed,
                                 double sampleRate) {
    demo::writeDemoSong(musicOf(seconds, levelDB, seed, sampleRate), path, true);
    return path;
}

std::filesystem::path writeLongMusic(const std::filesystem::path& path, double seconds, double levelDB,
                                     uint32_t seed) {
    constexpr double passageSeconds = 10.0;
    const demo::DemoSong passage = musicOf(passageSeconds, levelDB, seed, 44100.0);
    demo::DemoSong song;
    song.sampleRate = passage.sampleRate;
    const auto frames = size_t(std::llround(seconds * passage.sampleRate));
    song.left.resize(frames);
    song.right.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        song.left[i] = passage.left[i % passage.left.size()];
        song.right[i] = passage.right[i % passage.right.size()];
    }
    demo::writeDemoSong(song, path, true);
    return path;
}

double peakOf(const std::vector<float>& samples) {
    double peak = 0;
    for (float x : samples) {
        peak = std::max(peak, double(std::fabs(x)));
    }
    return peak;
}

double rmsOf(const std::vector<float>& samples) {
    double sum = 0;
    for (float x : samples) {
        sum += double(x) * x;
    }
    return samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size()));
}

} // namespace orvanta::test
