#include "analyzer/LoudnessAnalysis.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/VectorMath.h"
#include "engine/KWeighting.h"
#include "engine/WindowedSums.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta::AudioAnalyzer {

namespace {

constexpr float silentLoudness = -70.0f; // LUFS reported for material without energy

constexpr uint32_t pieceFrames = 1u << 14; // frames K-weighted between two cancellation checks

// Blocks of `block` frames starting every `hop` frames, up to and including length − block.
struct BlockGrid {
    size_t block = 0;
    size_t hop = 0;

    size_t count(size_t length) const {
        return block == 0 || hop == 0 || length < block ? 0 : (length - block) / hop + 1;
    }
};

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
        return silentLoudness; // shorter than one block: nothing to average
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

// The mastering meter's test on the analyzer's blocks: a 400 ms block is the mean of the 200 ms
// blocks starting 0 and 200 ms into it, two hops apart.
Measurability measurabilityOf(const std::vector<float>& shortBlockPowers) {
    constexpr size_t hopsPerShortBlock = 2;
    if (shortBlockPowers.size() <= hopsPerShortBlock) return Measurability::tooShort;
    for (size_t b = 0; b + hopsPerShortBlock < shortBlockPowers.size(); ++b) {
        if ((shortBlockPowers[b] + shortBlockPowers[b + hopsPerShortBlock]) * 0.5f > 1e-7f) {
            return Measurability::measurable;
        }
    }
    return Measurability::silent;
}

} // namespace

float loudnessOfPower(float power) {
    return 10.0f * std::log10(std::max(power, 1e-45f)) - 0.691f - 0.5f;
}

BlockLoudness blockLoudness(const std::vector<std::vector<float>>& channelSums, size_t block) {
    BlockLoudness result;
    if (channelSums.empty() || channelSums.front().empty() || block == 0) {
        return result;
    }
    const size_t blockCount = channelSums.front().size();
    result.powers.reserve(blockCount);
    float maxLoudness = -std::numeric_limits<float>::infinity();
    for (size_t b = 0; b < blockCount; ++b) {
        float z = 0.0f;
        for (size_t c = 0; c < channelSums.size(); ++c) {
            const float weight = c < 2 ? 1.0f : 1.41f;
            z += weight * (channelSums[c][b] / float(block));
        }
        result.powers.push_back(z);
        maxLoudness = std::max(maxLoudness, loudnessOfPower(z));
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
    const float rate = float(sampleRate);
    const BlockGrid momentary = {size_t(0.2f * rate), size_t(0.1f * rate)};
    const BlockGrid shortTerm = {size_t(3.0f * rate), size_t(rate)};
    const uint32_t length = buffer.frameLength();
    const uint32_t channels = buffer.channelCount();

    // Each channel's sums of squares over both kinds of block, weighted piece by piece.
    std::vector<std::vector<float>> momentarySums(channels), shortTermSums(channels);
    const double totalFrames = double(length) * double(channels);
    double lastReported = -1.0;
    for (uint32_t c = 0; c < channels; ++c) {
        KWeightingFilter filter(sampleRate);
        WindowedSums momentaryBlocks(momentary.block, momentary.hop, momentary.count(length), pieceFrames,
                                     vector_math::sumOfSquares);
        WindowedSums shortTermBlocks(shortTerm.block, shortTerm.hop, shortTerm.count(length), pieceFrames,
                                     vector_math::sumOfSquares);
        for (uint32_t start = 0; start < length; start += pieceFrames) {
            throwIfCancelled(isCancelled);
            const uint32_t frames = std::min(pieceFrames, length - start);
            float* weighted = momentaryBlocks.room();
            filter.process(buffer.channel(c) + start, weighted, frames);
            std::copy(weighted, weighted + frames, shortTermBlocks.room());
            momentaryBlocks.append(frames);
            shortTermBlocks.append(frames);

            const double fraction = (double(c) * double(length) + double(start + frames)) / totalFrames;
            if (fraction - lastReported >= 0.02 || fraction == 1.0) {
                report(progress, fraction);
                lastReported = fraction;
            }
            yieldToScheduler();
        }
        momentarySums[c] = momentaryBlocks.sums();
        shortTermSums[c] = shortTermBlocks.sums();
    }

    const BlockLoudness shortBlocks = blockLoudness(momentarySums, momentary.block);
    const BlockLoudness longBlocks = blockLoudness(shortTermSums, shortTerm.block);

    // Blocks of pure digital silence read as −70 LUFS rather than the −450 of the power floor.
    const auto hasEnergy = [](const BlockLoudness& blocks) {
        return std::any_of(blocks.powers.begin(), blocks.powers.end(), [](float z) { return z > 0.0f; });
    };
    result.momentaryMax = hasEnergy(shortBlocks) ? shortBlocks.maxLoudness : silentLoudness;
    result.shortTermMax = hasEnergy(longBlocks) ? longBlocks.maxLoudness : silentLoudness;
    result.integrated = integratedLoudness(shortBlocks.powers);
    result.measurability = measurabilityOf(shortBlocks.powers);

    std::vector<double> shortTermValues;
    shortTermValues.reserve(longBlocks.powers.size());
    for (float z : longBlocks.powers) {
        shortTermValues.push_back(loudnessOfPower(z));
    }
    result.loudnessRange = loudnessRange(shortTermValues, result.integrated);
    return result;
}

} // namespace orvanta::AudioAnalyzer
