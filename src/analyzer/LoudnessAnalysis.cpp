#include "analyzer/LoudnessAnalysis.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/VectorMath.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace orvanta::AudioAnalyzer {

namespace {

constexpr float silentLoudness = -70.0f; // LUFS reported for material without energy

struct Biquad {
    float b0, b1, b2, a1, a2;
};

// BS.1770 K-weighting for 48 kHz, held as 32-bit floats and used unchanged at every rate.
constexpr Biquad highPass = {1.0f, -2.0f, 1.0f, -1.99004745483398f, 0.99007225036621f};
constexpr Biquad highShelf = {1.53512485958697f, -2.69169618940638f, 1.19839281085285f, -1.69065929318241f,
                              0.73248077421585f};

float mean(const std::vector<float>& values) {
    float sum = 0.0f;
    for (float v : values) {
        sum += v;
    }
    return sum / float(values.size());
}

// The two-stage gate of the integrated figure over the short-block powers.
double integratedLoudness(const std::vector<float>& powers) {
    if (powers.empty()) {
        return silentLoudness; // excerpt shorter than one block: nothing to average
    }
    std::vector<float> retained;
    retained.reserve(powers.size());
    for (float z : powers) {
        if (z > 1e-7f) {
            retained.push_back(z);
        }
    }
    if (retained.empty()) {
        retained = powers;
    }
    const float m1 = mean(retained);
    std::vector<float> gated;
    gated.reserve(retained.size());
    for (float z : retained) {
        if (z > 0.1f * m1) {
            gated.push_back(z);
        }
    }
    const float m2 = gated.empty() ? m1 : mean(gated);
    if (!(m2 > 0.0f)) {
        return silentLoudness;
    }
    return loudnessOfPower(m2);
}

} // namespace

float loudnessOfPower(float power) {
    return 10.0f * std::log10(std::max(power, 1e-45f)) - 0.691f - 0.5f;
}

LoudnessExcerpt loudnessExcerpt(double sampleRate, uint32_t length) {
    const auto limit = int64_t(float(sampleRate) * 120.0f);
    const uint32_t frames = uint32_t(std::min<int64_t>(limit, length));
    const uint32_t start = int64_t(length) > limit ? (length - frames) / 2 : 0;
    return {start, frames};
}

// High pass, then shelf, in one sweep: the two recursions of a sample overlap with those of the next
// one, and every sample sees the same operations as two separate passes.
void kWeight(std::vector<float>& samples) {
    struct Memory {
        float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    } first, second;
    for (float& sample : samples) sample = biquadStep(highShelf, second, biquadStep(highPass, first, sample));
}

BlockLoudness blockLoudness(const std::vector<std::vector<float>>& channels, size_t block, size_t hop,
                            const ProgressCallback& progress, const CancellationQuery& isCancelled) {
    BlockLoudness result;
    if (channels.empty() || channels.front().empty() || block == 0 || hop == 0) {
        return result;
    }
    const size_t length = channels.front().size();
    if (length < block) {
        return result;
    }
    const size_t blockCount = (length - block) / hop + 1;
    result.powers.reserve(blockCount);
    const double progressSpan = std::max(double((length - block) / hop), 1.0);
    double lastReported = -1.0;
    float maxLoudness = -std::numeric_limits<float>::infinity();

    for (size_t b = 0; b < blockCount; ++b) {
        const size_t start = b * hop;
        float z = 0.0f;
        for (size_t c = 0; c < channels.size(); ++c) {
            const float weight = c < 2 ? 1.0f : 1.41f;
            const float* samples = channels[c].data() + start;
            const size_t available = channels[c].size() > start ? std::min(block, channels[c].size() - start) : 0;
            z += weight * (vector_math::sumOfSquares(samples, available) / float(block));
        }
        result.powers.push_back(z);
        maxLoudness = std::max(maxLoudness, loudnessOfPower(z));

        const size_t done = b + 1;
        const double fraction = std::min(double(done) / progressSpan, 1.0);
        if (fraction - lastReported >= 0.02) {
            report(progress, fraction);
            lastReported = fraction;
        }
        if (done % 5 == 0) {
            throwIfCancelled(isCancelled);
            std::this_thread::sleep_for(std::chrono::seconds(0));
        }
    }
    result.maxLoudness = maxLoudness;
    return result;
}

double loudnessRange(const std::vector<double>& shortTermValues, double integrated) {
    std::vector<double> kept;
    for (double v : shortTermValues) {
        if (v > -70.0 && v > integrated - 20.0) {
            kept.push_back(v);
        }
    }
    if (kept.size() < 2) {
        return 0.0;
    }
    std::sort(kept.begin(), kept.end());
    const auto percentile = [&kept](double q) {
        const double position = std::clamp(q, 0.0, 1.0) * double(kept.size() - 1);
        const auto lower = size_t(std::floor(position));
        const auto upper = size_t(std::ceil(position));
        const double t = position - double(lower);
        return kept[lower] + (kept[upper] - kept[lower]) * t;
    };
    return std::max(percentile(0.95) - percentile(0.10), 0.0);
}

LoudnessMeasurement measureLoudness(const AudioBuffer& buffer, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled) {
    LoudnessMeasurement result;
    if (!buffer.hasFloatData() || buffer.frameLength() == 0) {
        return result;
    }
    const double sampleRate = buffer.sampleRate();
    const LoudnessExcerpt excerpt = loudnessExcerpt(sampleRate, buffer.frameLength());

    std::vector<std::vector<float>> channels(buffer.channelCount());
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
        throwIfCancelled(isCancelled);
        const float* source = buffer.channel(c) + excerpt.start;
        channels[c].assign(source, source + excerpt.frames);
        kWeight(channels[c]);
    }

    const float rate = float(sampleRate);
    const BlockLoudness shortBlocks =
        blockLoudness(channels, size_t(0.2f * rate), size_t(0.1f * rate), progress, isCancelled);
    const BlockLoudness longBlocks = blockLoudness(channels, size_t(3.0f * rate), size_t(rate), progress, isCancelled);

    // Blocks of pure digital silence read as −70 LUFS rather than the −450 of the power floor.
    const auto hasEnergy = [](const BlockLoudness& blocks) {
        return std::any_of(blocks.powers.begin(), blocks.powers.end(), [](float z) { return z > 0.0f; });
    };
    result.momentaryMax = hasEnergy(shortBlocks) ? shortBlocks.maxLoudness : silentLoudness;
    result.shortTermMax = hasEnergy(longBlocks) ? longBlocks.maxLoudness : silentLoudness;
    result.integrated = integratedLoudness(shortBlocks.powers);

    std::vector<double> shortTerm;
    shortTerm.reserve(longBlocks.powers.size());
    for (float z : longBlocks.powers) {
        shortTerm.push_back(loudnessOfPower(z));
    }
    result.loudnessRange = loudnessRange(shortTerm, result.integrated);
    return result;
}

} // namespace orvanta::AudioAnalyzer
