#include "engine/LoudnessMeter.h"

#include "engine/ChunkPipeline.h"
#include "engine/KWeighting.h"
#include "engine/ProcessingErrors.h"
#include "engine/TruePeakDetector.h"
#include "engine/WindowedSums.h"
#include "platform/AudioFileReader.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <optional>

namespace orvanta {

namespace {

constexpr float smallestFloat = std::numeric_limits<float>::denorm_min(); // 1.401298464324817e-45
constexpr uint32_t chunkFrames = StreamMeter::chunkFrames;

float channelWeight(uint32_t channel) { return channel < 2 ? 1.0f : 1.41f; }

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

float meanOf(const std::vector<float>& values) {
    if (values.empty()) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (float v : values) {
        sum += v;
    }
    return sum / float(values.size());
}

// Clamped logarithms: a non-number stays a non-number (std::max keeps its first argument then).
float clampedLog10(float value) { return std::log10(std::max(value, smallestFloat)); }

// Window starts of the loud-passage RMS (0.1 s windows every 0.05 s) and of the gating blocks (0.4 s
// every 0.1 s); a window must end before the last frame.
struct Windows {
    int64_t length = 0;
    int64_t hop = 0;

    size_t count(int64_t frames) const {
        if (length <= 0 || hop <= 0 || frames - length <= 0) return 0;
        return size_t((frames - length + hop - 1) / hop);
    }
};

Windows rmsWindows(float sampleRate) { return {int64_t(uint32_t(sampleRate * 0.1f)), int64_t(uint32_t(sampleRate * 0.05f))}; }
Windows gatingBlocks(float sampleRate) { return {int64_t(uint32_t(sampleRate * 0.4f)), int64_t(uint32_t(sampleRate * 0.1f))}; }

// Largest |sample| (0 for none). Eight running maxima let the loop vectorise; the maximum is the same
// in any order.
float maxMagnitude(const float* samples, size_t count) {
    float lanes[8] = {};
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (size_t j = 0; j < 8; ++j) lanes[j] = std::max(lanes[j], std::fabs(samples[i + j]));
    }
    float peak = 0.0f;
    for (float lane : lanes) peak = std::max(peak, lane);
    for (; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// Everything the meter gathers from one channel as its samples stream past. Sized for the file's
// declared length on construction; nothing allocates while measuring.
struct ChannelMeter {
    ChannelMeter(double sampleRate, const Windows& rms, const Windows& gating, int64_t frames)
        : kWeighting(sampleRate),
          windowSums(size_t(rms.length), size_t(rms.hop), rms.count(frames), chunkFrames, sumOfSquares),
          blockSums(size_t(gating.length), size_t(gating.hop), gating.count(frames), chunkFrames, sumOfSquares) {}

    KWeightingFilter kWeighting;
    float peak = 0.0f;       // largest |sample|, linear
    WindowedSums windowSums; // sum of squares of each RMS window
    WindowedSums blockSums;  // sum of squares of each K-weighted gating block
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
void runMeterJob(const MeterJob& job, const Chunk& chunk, uint32_t frames, std::vector<ChannelMeter>& meters,
                 TruePeakDetector& truePeak) noexcept {
    const uint32_t a = job.firstChannel, b = a + 1;
    if (job.weighting) {
        if (job.channelCount == 2) {
            KWeightingFilter::processPair(meters[a].kWeighting, chunk(a), meters[a].blockSums.room(),
                                          meters[b].kWeighting, chunk(b), meters[b].blockSums.room(), frames);
        } else {
            meters[a].kWeighting.process(chunk(a), meters[a].blockSums.room(), frames);
        }
        for (uint32_t c = a; c < a + job.channelCount; ++c) meters[c].blockSums.append(frames);
        return;
    }
    for (uint32_t c = a; c < a + job.channelCount; ++c) {
        const float* samples = chunk(c);
        ChannelMeter& meter = meters[c];
        meter.peak = std::max(meter.peak, maxMagnitude(samples, frames));
        std::copy(samples, samples + frames, meter.windowSums.room());
        meter.windowSums.append(frames);
        truePeak.process(int(c), samples, frames, nullptr);
    }
}

// The loudest 5 % of the RMS windows, as one RMS level.
float loudPassageRMS(const std::vector<ChannelMeter>& channels, const Windows& rms) {
    std::vector<float> levels(channels.empty() ? 0 : channels[0].windowSums.sums().size());
    for (size_t j = 0; j < levels.size(); ++j) {
        float sum = 0.0f;
        for (const ChannelMeter& channel : channels) sum += channel.windowSums.sums()[j];
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

// The channel-weighted mean square of each 400 ms gating block.
std::vector<float> gatingBlockPowers(const std::vector<ChannelMeter>& channels, const Windows& gating) {
    std::vector<float> blocks(channels.empty() ? 0 : channels[0].blockSums.sums().size());
    for (size_t j = 0; j < blocks.size(); ++j) {
        float z = 0.0f;
        for (uint32_t c = 0; c < channels.size(); ++c) {
            z += channelWeight(c) * channels[c].blockSums.sums()[j] / float(gating.length);
        }
        blocks[j] = z;
    }
    return blocks;
}

Measurability measurabilityOf(const std::vector<float>& blocks) {
    if (blocks.empty()) return Measurability::tooShort;
    const bool anyAboveGate = std::any_of(blocks.begin(), blocks.end(), [](float z) { return z > 1e-7f; });
    return anyAboveGate ? Measurability::measurable : Measurability::silent;
}

float gatedMeanSquare(const std::vector<float>& blocks) {
    std::vector<float> absoluteGated;
    for (float z : blocks) {
        if (z > 1e-7f) {
            absoluteGated.push_back(z);
        }
    }
    if (absoluteGated.empty()) {
        absoluteGated = blocks;
    }
    const float relativeThreshold = 0.1f * meanOf(absoluteGated);
    std::vector<float> relativeGated;
    for (float z : absoluteGated) {
        if (z > relativeThreshold) {
            relativeGated.push_back(z);
        }
    }
    if (relativeGated.empty()) {
        relativeGated = absoluteGated;
    }
    return meanOf(relativeGated);
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
    Windows rms;
    Windows gating;
    std::vector<ChannelMeter> meters;
    std::optional<TruePeakDetector> truePeak;
    std::vector<MeterJob> jobs;
};

StreamMeter::StreamMeter(double sampleRate, uint32_t channelCount, int64_t expectedFrames) {
    try {
        state_ = std::make_unique<State>();
        state_->rms = rmsWindows(float(sampleRate));
        state_->gating = gatingBlocks(float(sampleRate));
        state_->meters.reserve(channelCount);
        for (uint32_t c = 0; c < channelCount; ++c) {
            state_->meters.emplace_back(sampleRate, state_->rms, state_->gating, expectedFrames);
        }
        state_->truePeak.emplace(int(channelCount));
        state_->jobs = meterJobs(channelCount);
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
}

StreamMeter::~StreamMeter() = default;

size_t StreamMeter::jobCount() const noexcept { return state_->jobs.size(); }

void StreamMeter::runJob(size_t job, const AudioBuffer& chunk, uint32_t frames) noexcept {
    runMeterJob(state_->jobs[job], [&chunk](uint32_t c) { return chunk.channel(c); }, frames, state_->meters,
                *state_->truePeak);
}

void StreamMeter::add(const float* const* channels, uint32_t frames) noexcept {
    for (uint32_t start = 0; start < frames; start += chunkFrames) {
        const auto piece = [channels, start](uint32_t c) { return channels[c] + start; };
        const uint32_t count = std::min(chunkFrames, frames - start);
        for (const MeterJob& job : state_->jobs) runMeterJob(job, piece, count, state_->meters, *state_->truePeak);
    }
}

AudioStats StreamMeter::finish(int64_t framesMeasured) {
    std::vector<ChannelMeter>& meters = state_->meters;
    // A file that ends early is measured on the frames it has.
    for (uint32_t c = 0; c < meters.size(); ++c) {
        meters[c].windowSums.truncate(state_->rms.count(framesMeasured));
        meters[c].blockSums.truncate(state_->gating.count(framesMeasured));
        state_->truePeak->flush(int(c), nullptr);
    }
    float peakLinear = 0.0f;
    for (const ChannelMeter& m : meters) peakLinear = std::max(peakLinear, m.peak);
    const float rmsLinear = loudPassageRMS(meters, state_->rms);
    const std::vector<float> blocks = gatingBlockPowers(meters, state_->gating);
    const float gatedMean = gatedMeanSquare(blocks);

    AudioStats stats;
    stats.lufs = 10.0f * clampedLog10(gatedMean) - 0.691f - 0.5f;
    stats.peak = 20.0f * clampedLog10(peakLinear);
    stats.rms = 20.0f * clampedLog10(rmsLinear) + 0.4f;
    stats.truePeak = 20.0f * clampedLog10(state_->truePeak->maximum());
    stats.measurability = measurabilityOf(blocks);
    return stats;
}

AudioStats analyzeAudioFile(const std::filesystem::path& url) {
    AudioFileReader reader(url);
    const int64_t length = reader.lengthFrames();
    if (length < 1) {
        throw emptyFileError();
    }
    StreamMeter meter(reader.sampleRate(), reader.channelCount(), length);
    int64_t frames = 0;
    try {
        frames = runChunkPipeline(reader, chunkFrames, meter.jobCount(),
                                  [&meter](size_t job, const AudioBuffer& chunk, uint32_t chunkLength) {
                                      meter.runJob(job, chunk, chunkLength);
                                  });
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
    return meter.finish(frames);
}

} // namespace orvanta
