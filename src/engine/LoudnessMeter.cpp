#include "engine/LoudnessMeter.h"

#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <thread>

namespace orvanta {

namespace {

constexpr float smallestFloat = std::numeric_limits<float>::denorm_min(); // 1.401298464324817e-45
constexpr double excerptSeconds = 120.0;

// BS.1770 K-weighting at 48 kHz as single-precision values, used unchanged at every rate.
const std::vector<float> highPassB = {1.0f, -2.0f, 1.0f};
const std::vector<float> highPassA = {1.0f, -1.9900474548339844f, 0.9900722503662109f};
const std::vector<float> shelfB = {1.5351248979568481f, -2.6916961669921875f, 1.1983928680419922f};
const std::vector<float> shelfA = {1.0f, -1.6906592845916748f, 0.7324807643890381f};

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

    size_t count(uint32_t frames) const {
        if (length <= 0 || hop <= 0 || int64_t(frames) - length <= 0) return 0;
        return size_t((int64_t(frames) - length + hop - 1) / hop);
    }
};

Windows rmsWindows(float sampleRate) { return {int64_t(uint32_t(sampleRate * 0.1f)), int64_t(uint32_t(sampleRate * 0.05f))}; }
Windows gatingBlocks(float sampleRate) { return {int64_t(uint32_t(sampleRate * 0.4f)), int64_t(uint32_t(sampleRate * 0.1f))}; }

// Everything the meter needs from one channel; the channel's samples become its K-weighted signal.
struct ChannelMeasures {
    float peak = 0.0f;
    std::vector<float> windowSums; // sum of squares of each RMS window
    std::vector<float> blockSums;  // sum of squares of each K-weighted gating block
};

void kWeightInPlace(float* samples, uint32_t frames);

void measureChannel(float* samples, uint32_t frames, const Windows& rms, const Windows& blocks,
                    ChannelMeasures& out) noexcept {
    for (uint32_t i = 0; i < frames; ++i) out.peak = std::max(out.peak, std::fabs(samples[i]));
    for (size_t j = 0; j < out.windowSums.size(); ++j) {
        out.windowSums[j] = sumOfSquares(samples + int64_t(j) * rms.hop, size_t(rms.length));
    }
    kWeightInPlace(samples, frames);
    for (size_t j = 0; j < out.blockSums.size(); ++j) {
        out.blockSums[j] = sumOfSquares(samples + int64_t(j) * blocks.hop, size_t(blocks.length));
    }
}

// The loudest 5 % of the RMS windows, as one RMS level.
float loudPassageRMS(const std::vector<ChannelMeasures>& channels, const Windows& rms) {
    std::vector<float> levels(channels.empty() ? 0 : channels[0].windowSums.size());
    for (size_t j = 0; j < levels.size(); ++j) {
        float sum = 0.0f;
        for (const ChannelMeasures& channel : channels) sum += channel.windowSums[j];
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

float gatedMeanSquare(const std::vector<ChannelMeasures>& channels, const Windows& gating) {
    std::vector<float> blocks(channels.empty() ? 0 : channels[0].blockSums.size());
    for (size_t j = 0; j < blocks.size(); ++j) {
        float z = 0.0f;
        for (uint32_t c = 0; c < channels.size(); ++c) {
            z += channelWeight(c) * channels[c].blockSums[j] / float(gating.length);
        }
        blocks[j] = z;
    }
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

struct Biquad {
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    Biquad(const std::vector<float>& b, const std::vector<float>& a) {
        auto coefficient = [](const std::vector<float>& v, size_t i) { return i < v.size() ? v[i] : 0.0f; };
        const float a0 = a[0];
        b0 = coefficient(b, 0) / a0, b1 = coefficient(b, 1) / a0, b2 = coefficient(b, 2) / a0;
        a1 = coefficient(a, 1) / a0, a2 = coefficient(a, 2) / a0;
    }

    float operator()(float x) { return biquadStep(*this, *this, x); }
};

// K-weighting in place: high pass, then shelf. The two recursions of a sample overlap with those of
// the next one.
void kWeightInPlace(float* samples, uint32_t frames) {
    Biquad highPass(highPassB, highPassA), shelf(shelfB, shelfA);
    for (uint32_t n = 0; n < frames; ++n) samples[n] = shelf(highPass(samples[n]));
}

} // namespace

std::vector<float> biquadFilter(const std::vector<float>& samples, const std::vector<float>& b,
                                const std::vector<float>& a) {
    std::vector<float> out(samples.size(), 0.0f);
    if (samples.empty() || a.empty() || b.empty()) {
        return out;
    }
    Biquad filter(b, a);
    for (size_t n = 0; n < samples.size(); ++n) {
        out[n] = filter(samples[n]);
    }
    return out;
}

AudioStats analyzeAudioFile(const std::filesystem::path& url) {
    AudioFileReader reader(url);
    const int64_t length = reader.lengthFrames();
    if (length < 1) {
        throw emptyFileError();
    }
    const float sampleRate = float(reader.sampleRate());
    const uint32_t channels = reader.channelCount();

    uint32_t capacity = uint32_t(sampleRate * float(excerptSeconds));
    int64_t startFrame = 0;
    if (length <= int64_t(capacity)) {
        capacity = uint32_t(length);
    } else {
        startFrame = (length - int64_t(capacity)) / 2;
    }

    AudioBuffer buffer;
    try {
        buffer = reader.makeBuffer(capacity);
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
    reader.setFramePosition(startFrame);
    const uint32_t frames = reader.read(buffer, capacity);

    // Channels are measured side by side, each on its own thread; the results are combined in
    // channel order, as one pass over all channels would add them.
    const Windows rms = rmsWindows(sampleRate);
    const Windows gating = gatingBlocks(sampleRate);
    std::vector<ChannelMeasures> measures(channels);
    try {
        for (ChannelMeasures& m : measures) {
            m.windowSums.assign(rms.count(frames), 0.0f);
            m.blockSums.assign(gating.count(frames), 0.0f);
        }
    } catch (const std::bad_alloc&) {
        throw meterBufferError();
    }
    {
        std::vector<std::thread> workers;
        for (uint32_t c = 1; c < channels; ++c) {
            workers.emplace_back(measureChannel, buffer.channel(c), frames, std::cref(rms), std::cref(gating),
                                 std::ref(measures[c]));
        }
        if (channels > 0) measureChannel(buffer.channel(0), frames, rms, gating, measures[0]);
        for (std::thread& worker : workers) worker.join();
    }
    float peakLinear = 0.0f;
    for (const ChannelMeasures& m : measures) peakLinear = std::max(peakLinear, m.peak);
    const float rmsLinear = loudPassageRMS(measures, rms);
    const float gatedMean = gatedMeanSquare(measures, gating);

    AudioStats stats;
    stats.lufs = 10.0f * clampedLog10(gatedMean) - 0.691f - 0.5f;
    stats.peak = 20.0f * clampedLog10(peakLinear);
    stats.rms = 20.0f * clampedLog10(rmsLinear) + 0.4f;
    return stats;
}

} // namespace orvanta
