#include "engine/LoudnessMeter.h"

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

float loudPassageRMS(const AudioBuffer& buffer, uint32_t frames, float sampleRate) {
    const uint32_t channels = buffer.channelCount();
    const int64_t window = int64_t(uint32_t(sampleRate * 0.1f));
    const int64_t hop = int64_t(uint32_t(sampleRate * 0.05f));
    std::vector<float> levels;
    if (window > 0 && hop > 0) {
        for (int64_t start = 0; start < int64_t(frames) - window; start += hop) {
            float sum = 0.0f;
            for (uint32_t c = 0; c < channels; ++c) {
                sum += sumOfSquares(buffer.channel(c) + start, size_t(window));
            }
            levels.push_back(std::sqrt(sum / float(window * channels)));
        }
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

float gatedMeanSquare(const std::vector<const float*>& weighted, uint32_t frames, float sampleRate) {
    const int64_t blockLength = int64_t(uint32_t(sampleRate * 0.4f));
    const int64_t blockHop = int64_t(uint32_t(sampleRate * 0.1f));
    std::vector<float> blocks;
    if (blockLength > 0 && blockHop > 0) {
        for (int64_t start = 0; start < int64_t(frames) - blockLength; start += blockHop) {
            float z = 0.0f;
            for (uint32_t c = 0; c < weighted.size(); ++c) {
                z += channelWeight(c) * sumOfSquares(weighted[c] + start, size_t(blockLength)) / float(blockLength);
            }
            blocks.push_back(z);
        }
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

// K-weighting in place (high pass, then shelf), two channels per loop: the four recursions are
// independent, so they run side by side instead of waiting on one another. Each sample sees the
// same operations as filtering every channel and stage on its own.
void kWeightInPlace(const std::vector<float*>& channels, uint32_t frames) {
    size_t c = 0;
    for (; c + 2 <= channels.size(); c += 2) {
        Biquad highPass0(highPassB, highPassA), shelf0(shelfB, shelfA);
        Biquad highPass1(highPassB, highPassA), shelf1(shelfB, shelfA);
        float* left = channels[c];
        float* right = channels[c + 1];
        for (uint32_t n = 0; n < frames; ++n) {
            left[n] = shelf0(highPass0(left[n]));
            right[n] = shelf1(highPass1(right[n]));
        }
    }
    for (; c < channels.size(); ++c) {
        Biquad highPass(highPassB, highPassA), shelf(shelfB, shelfA);
        float* samples = channels[c];
        for (uint32_t n = 0; n < frames; ++n) samples[n] = shelf(highPass(samples[n]));
    }
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

    float peakLinear = 0.0f;
    for (uint32_t c = 0; c < channels; ++c) {
        const float* samples = buffer.channel(c);
        for (uint32_t i = 0; i < frames; ++i) {
            peakLinear = std::max(peakLinear, std::fabs(samples[i]));
        }
    }

    const float rmsLinear = loudPassageRMS(buffer, frames, sampleRate);

    // Peak and RMS are taken; the buffer now becomes the K-weighted signal.
    std::vector<float*> channelData(channels);
    for (uint32_t c = 0; c < channels; ++c) channelData[c] = buffer.channel(c);
    kWeightInPlace(channelData, frames);
    const float gatedMean = gatedMeanSquare({channelData.begin(), channelData.end()}, frames, sampleRate);

    AudioStats stats;
    stats.lufs = 10.0f * clampedLog10(gatedMean) - 0.691f - 0.5f;
    stats.peak = 20.0f * clampedLog10(peakLinear);
    stats.rms = 20.0f * clampedLog10(rmsLinear) + 0.4f;
    return stats;
}

} // namespace orvanta
