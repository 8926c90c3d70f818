#include "analyzer/LoudnessAnalysis.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta::AudioAnalyzer {

namespace {

constexpr float silentLoudness = -70.0f; // LUFS reported for material without energy

constexpr uint32_t pieceFrames = 1u << 14; // frames K-weighted between two cancellation checks

// 200 ms gating blocks every 100 ms and 3 s short-term blocks every second, both up to and including
// the block that ends on the last frame.
Bs1770Config analyzerLoudness() {
    Bs1770Config config;
    config.blockSeconds = 0.2f;
    config.hopSeconds = 0.1f;
    config.shortTermSeconds = 3.0f;
    config.shortTermHopSeconds = 1.0f;
    config.lastBlockMayEndOnLastFrame = true;
    config.weightMeanSquares = true;
    config.sumOfSquares = vector_math::sumOfSquares;
    return config;
}

// The loudest block, LUFS. Blocks of pure digital silence read as −70 LUFS rather than the −450 of the
// power floor.
float loudestBlock(const std::vector<float>& powers) {
    float loudest = -std::numeric_limits<float>::infinity();
    bool energy = false;
    for (float z : powers) {
        loudest = std::max(loudest, loudnessOfPower(z));
        energy = energy || z > 0.0f;
    }
    return energy ? loudest : silentLoudness;
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

// The figures of a meter that has weighed `length` frames of every channel.
LoudnessMeasurement measurementOf(Bs1770Meter& meter, int64_t length) {
    meter.finish(length);
    LoudnessMeasurement result;
    const std::vector<float> shortBlocks = meter.blockPowers();
    result.momentaryMax = loudestBlock(shortBlocks);
    result.shortTermMax = loudestBlock(meter.shortTermPowers());
    const float meanSquare = meter.gatedMeanSquare();
    result.integrated = meanSquare > 0.0f ? loudnessOfPower(meanSquare) : silentLoudness;
    result.measurability = measurabilityOf(shortBlocks);
    result.loudnessRange = meter.loudnessRange();
    return result;
}

} // namespace

LoudnessAccumulator::LoudnessAccumulator(double sampleRate, uint32_t channelCount, int64_t expectedFrames)
    : meter_(sampleRate, channelCount, analyzerLoudness(), expectedFrames, pieceFrames) {}

void LoudnessAccumulator::add(const AudioBuffer& chunk, uint32_t frames) noexcept {
    for (uint32_t start = 0; start < frames; start += pieceFrames) {
        const uint32_t count = std::min(pieceFrames, frames - start);
        for (uint32_t c = 0; c < meter_.channelCount(); ++c) {
            const float* piece = chunk.channel(c) + start;
            meter_.weigh(c, 1, &piece, count);
        }
    }
}

LoudnessMeasurement LoudnessAccumulator::finish(int64_t frames) {
    if (frames == 0) return {};
    return measurementOf(meter_, frames);
}

LoudnessMeasurement measureLoudness(const AudioBuffer& buffer, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled) {
    LoudnessMeasurement result;
    if (!buffer.hasFloatData() || buffer.frameLength() == 0) {
        return result;
    }
    const uint32_t length = buffer.frameLength();
    const uint32_t channels = buffer.channelCount();
    Bs1770Meter meter(buffer.sampleRate(), channels, analyzerLoudness(), length, pieceFrames,
                      buffer.format().channelMask);

    // Channel after channel, piece by piece.
    const double totalFrames = double(length) * double(channels);
    double lastReported = -1.0;
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t start = 0; start < length; start += pieceFrames) {
            throwIfCancelled(isCancelled);
            const uint32_t frames = std::min(pieceFrames, length - start);
            const float* piece = buffer.channel(c) + start;
            meter.weigh(c, 1, &piece, frames);

            const double fraction = (double(c) * double(length) + double(start + frames)) / totalFrames;
            if (fraction - lastReported >= 0.02 || fraction == 1.0) {
                report(progress, fraction);
                lastReported = fraction;
            }
            yieldToScheduler();
        }
    }
    return measurementOf(meter, length);
}

} // namespace orvanta::AudioAnalyzer
