#include "engine/LoudnessMeter.h"

#include "engine/Bs1770Meter.h"
#include "engine/ChunkPipeline.h"
#include "engine/PeakScan.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>

namespace orvanta {

namespace {

constexpr float smallestFloat = std::numeric_limits<float>::denorm_min(); // 1.401298464324817e-45
constexpr uint32_t chunkFrames = StreamMeter::chunkFrames;

// Eight partial sums, as a vector unit adds them; the result differs from a sequential sum only by
// float rounding, and the loop vectorises.
float sumOfSquares(const float* samples, size_t count) {
    float lanes[8] = {};
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (size_t j = 0; j < 8; ++j) {
            lanes[j] += samples[i + j] * samples[i + j];
        }
    }
    float sum = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
    for (; i < count; ++i) {
        sum += samples[i] * samples[i];
    }
    return sum;
}

// Clamped logarithms: a non-number stays a non-number (std::max keeps its first argument then).
float clampedLog10(float value) { return std::log10(std::max(value, smallestFloat)); }

// Window starts of the loud-passage RMS (0.1 s windows every 0.05 s); a window must end before the
// last frame.
struct Windows {
    int64_t length = 0;
    int64_t hop = 0;

    size_t count(int64_t frames) const {
        if (length <= 0 || hop <= 0 || frames - length <= 0) return 0;
        return size_t((frames - length + hop - 1) / hop);
    }
};

Windows rmsWindows(float sampleRate) { return {int64_t(uint32_t(sampleRate * 0.1f)), int64_t(uint32_t(sampleRate * 0.05f))}; }

// The mastering meter's BS.1770 blocks: 400 ms every 100 ms, each ending before the last frame.
Bs1770Config masteringLoudness() {
    Bs1770Config config;
    config.blockSeconds = 0.4f;
    config.hopSeconds = 0.1f;
    config.truePeak = true;
    config.sumOfSquares = sumOfSquares;
    return config;
}

// The levels the meter gathers from one channel besides loudness. Sized for the file's declared
// length on construction; nothing allocates while measuring.
struct ChannelLevels {
    ChannelLevels(const Windows& rms, int64_t frames)
        : windowSums(size_t(rms.length), size_t(rms.hop), rms.count(frames), chunkFrames, sumOfSquares) {}

    float peak = 0.0f;       // largest |sample|, linear
    WindowedSums windowSums; // sum of squares of each RMS window
};

// The jobs of each chunk: for every pair of neighbouring channels (the last may be alone), the
// K-weighting with the gating blocks, and the levels (sample peak, RMS windows, true peak). A pair
// shares its K-weighting job because the two channels run side by side in one vector.
struct MeterJob {
    bool weighting;
    uint32_t firstChannel;
    uint32_t channelCount; // 1 or 2
};

std::vector<MeterJob> meterJobs(uint32_t channels) {
    std::vector<MeterJob> jobs;
    for (uint32_t c = 0; c < channels; c += 2) {
        const uint32_t count = std::min<uint32_t>(2, channels - c);
        jobs.push_back({true, c, count});
        jobs.push_back({false, c, count});
    }
    return jobs;
}

// `chunk(c)` gives channel c's samples.
template <class Chunk>
void runMeterJob(const MeterJob& job, const Chunk& chunk, uint32_t frames, Bs1770Meter& loudness,
                 std::vector<ChannelLevels>& levels) noexcept {
    const uint32_t a = job.firstChannel;
    if (job.weighting) {
        const float* samples[2] = {chunk(a), job.channelCount == 2 ? chunk(a + 1) : nullptr};
        loudness.weigh(a, job.channelCount, samples, frames);
        return;
    }
    for (uint32_t c = a; c < a + job.channelCount; ++c) {
        const float* samples = chunk(c);
        ChannelLevels& level = levels[c];
        level.peak = std::max(level.peak, largestMagnitude(samples, frames));
        std::copy(samples, samples + frames, level.windowSums.room());
        level.windowSums.append(frames);
        loudness.addTruePeak(c, samples, frames);
    }
}

// The loudest 5 % of the RMS windows, as one RMS level.
float loudPassageRMS(const std::vector<ChannelLevels>& channels, const Windows& rms) {
    std::vector<float> levels(channels.empty() ? 0 : channels[0].windowSums.sums().size());
    for (size_t j = 0; j < levels.size(); ++j) {
        float sum = 0.0f;
        for (const ChannelLevels& channel : channels) sum += channel.windowSums.sums()[j];
        levels[j] = std::sqrt(sum / float(rms.length * int64_t(channels.size())));
    }
    std::sort(levels.begin(), levels.end(), std::greater<float>());
    const size_t count = levels.size();
    size_t k = std::min(std::max<size_t>(size_t(double(count) * 0.05), 1), count);
    float sum = 0.0f;
    for (size_t i = 0; i < k; ++i) {
        sum += levels[i] * levels[i];
    }
    return std::sqrt(sum / float(k)); // k = 0: 0/0, not a number
}

Measurability measurabilityOf(const std::vector<float>& blocks) {
    if (blocks.empty()) return Measurability::tooShort;
    const bool anyAboveGate = std::any_of(blocks.begin(), blocks.end(), [](float z) { return z > 1e-7f; });
    return anyAboveGate ? Measurability::measurable : Measurability::silent;
}

} // namespace

std::vector<float> biquadFilter(const std::vector<float>& samples, const std::vector<float>& b,
                                const std::vector<float>& a) {
    std::vector<float> out(samples.size(), 0.0f);
    if (samples.empty() || a.empty() || b.empty()) {
        return out;
    }
    const auto coefficient = [](const std::vector<float>& v, size_t i) { return i < v.size() ? v[i] : 0.0f; };
    const float a0 = a[0];
    const BiquadCoefficients k = {coefficient(b, 0) / a0, coefficient(b, 1) / a0, coefficient(b, 2) / a0,
                                  coefficient(a, 1) / a0, coefficient(a, 2) / a0};
    FilterState memory;
    for (size_t n = 0; n < samples.size(); ++n) {
        out[n] = biquadStep(k, memory, samples[n]);
    }
    return out;
}

struct StreamMeter::State {
    State(double sampleRate, uint32_t channelCount, int64_t expectedFrames, uint64_t channelMask)
        : rms(rmsWindows(float(sampleRate))),
          loudness(sampleRate, channelCount, masteringLoudness(), expectedFrames, chunkFrames, channelMask),
          jobs(meterJobs(channelCount)) {
        levels.reserve(channelCount);
        for (uint32_t c = 0; c < channelCount; ++c) levels.emplace_back(rms, expectedFrames);
    }

    Windows rms;
    Bs1770Meter loudness;
    std::vector<ChannelLevels> levels;
    std::vector<MeterJob> jobs;
};

StreamMeter::StreamMeter(double sampleRate, uint32_t channelCount, int64_t expectedFrames, uint64_t channelMask) {
    try {
        state_ = std::make_unique<State>(sampleRate, channelCount, expectedFrames, channelMask);
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
}

StreamMeter::~StreamMeter() = default;

size_t StreamMeter::jobCount() const noexcept { return state_->jobs.size(); }

void StreamMeter::runJob(size_t job, const AudioBuffer& chunk, uint32_t frames) noexcept {
    runMeterJob(state_->jobs[job], [&chunk](uint32_t c) { return chunk.channel(c); }, frames, state_->loudness,
                state_->levels);
}

void StreamMeter::add(const float* const* channels, uint32_t frames) noexcept {
    for (uint32_t start = 0; start < frames; start += chunkFrames) {
        const auto piece = [channels, start](uint32_t c) { return channels[c] + start; };
        const uint32_t count = std::min(chunkFrames, frames - start);
        for (const MeterJob& job : state_->jobs) runMeterJob(job, piece, count, state_->loudness, state_->levels);
    }
}

AudioStats StreamMeter::finish(int64_t framesMeasured) {
    // A file that ends early is measured on the frames it has.
    for (ChannelLevels& level : state_->levels) level.windowSums.truncate(state_->rms.count(framesMeasured));
    Bs1770Meter& loudness = state_->loudness;
    loudness.finish(framesMeasured);
    float peakLinear = 0.0f;
    for (const ChannelLevels& level : state_->levels) peakLinear = std::max(peakLinear, level.peak);
    const float rmsLinear = loudPassageRMS(state_->levels, state_->rms);

    AudioStats stats;
    stats.lufs = loudness.integratedLoudness();
    stats.peak = 20.0f * clampedLog10(peakLinear);
    stats.rms = 20.0f * clampedLog10(rmsLinear) + 0.4f;
    stats.truePeak = 20.0f * clampedLog10(loudness.truePeak());
    stats.measurability = measurabilityOf(loudness.blockPowers());
    return stats;
}

AudioStats analyzeAudioFile(const std::filesystem::path& url, WorkThreads threads) {
    AudioFileReader reader(url);
    const int64_t length = reader.lengthFrames();
    if (length < 1) {
        throw emptyFileError();
    }
    StreamMeter meter(reader.sampleRate(), reader.channelCount(), length, reader.processingFormat().channelMask);
    int64_t frames = 0;
    try {
        frames = runChunkPipeline(reader, chunkFrames, meter.jobCount(),
                                  [&meter](size_t job, const AudioBuffer& chunk, uint32_t chunkLength) {
                                      meter.runJob(job, chunk, chunkLength);
                                  },
                                  threads);
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
    return meter.finish(frames);
}

} // namespace orvanta
