#include "engine/GainReductionEnvelope.h"

#include "engine/PeakScan.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace orvanta {

GainReductionTracker::GainReductionTracker(double sampleRate, int64_t totalFrames, float inputGain)
    : sampleRate_(sampleRate), inputGain_(inputGain) {
    const int64_t frames = std::max<int64_t>(totalFrames, 0);
    windowFrames_ = std::max<int64_t>(1, std::llround(sampleRate * shortestBucketSeconds));
    const int64_t wantedBucket = (frames + targetPoints - 1) / targetPoints;
    windowsPerBucket_ = std::max<int64_t>(1, (wantedBucket + windowFrames_ - 1) / windowFrames_);
    bucketFrames_ = windowsPerBucket_ * windowFrames_;
    const size_t windows = size_t((frames + windowFrames_ - 1) / windowFrames_);
    inputPeaks_.assign(windows, 0.0f);
    outputPeaks_.assign(windows, 0.0f);
}

size_t GainReductionTracker::bucketCount() const noexcept {
    return size_t((int64_t(inputPeaks_.size()) + windowsPerBucket_ - 1) / windowsPerBucket_);
}

void GainReductionTracker::addPeaks(std::vector<float>& peaks, int64_t& position, const float* const* channels,
                                    uint32_t channelCount, uint32_t frames) const noexcept {
    // Frames past the song (a flush) have no bucket.
    int64_t first = position;
    const int64_t end = std::min(position + int64_t(frames), int64_t(peaks.size()) * windowFrames_);
    while (first < end) {
        const int64_t window = first / windowFrames_;
        const int64_t stop = std::min(end, (window + 1) * windowFrames_);
        float peak = peaks[size_t(window)];
        for (uint32_t c = 0; c < channelCount; ++c) {
            peak = std::max(peak, largestMagnitude(channels[c] + (first - position), size_t(stop - first)));
        }
        peaks[size_t(window)] = peak;
        first = stop;
    }
    position += frames;
}

void GainReductionTracker::addInput(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept {
    addPeaks(inputPeaks_, inputFrames_, channels, channelCount, frames);
}

void GainReductionTracker::addOutput(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept {
    addPeaks(outputPeaks_, outputFrames_, channels, channelCount, frames);
}

namespace {

// The chain's peak reduction where the gained input peaks at `in` and the output at `out` (linear):
// ≥ 0 dB, or nothing where the input is silent. NaN peaks (invalid input samples) count as silent.
std::optional<float> reductionOf(float in, float out) {
    if (!(in >= GainReductionTracker::silentPeak)) return std::nullopt;
    // An output silenced by the chain counts as 120 dB down rather than infinitely.
    return std::max(0.0f, 20.0f * std::log10(in / std::max(out, in * 1e-6f)));
}

} // namespace

GainReductionEnvelope GainReductionTracker::finish() const {
    GainReductionEnvelope envelope;
    envelope.bucketSeconds = sampleRate_ > 0 ? double(bucketFrames_) / sampleRate_ : 0.0;
    envelope.reductionDb.assign(bucketCount(), 0.0f);
    const float gain = std::fabs(inputGain_);
    double sum = 0.0;
    size_t sounding = 0;
    for (size_t b = 0; b < envelope.reductionDb.size(); ++b) {
        const size_t first = b * size_t(windowsPerBucket_);
        const size_t last = std::min(first + size_t(windowsPerBucket_), inputPeaks_.size());
        float bucketIn = 0.0f, bucketOut = 0.0f;
        for (size_t w = first; w < last; ++w) {
            const float in = inputPeaks_[w] * gain;
            if (const auto reduction = reductionOf(in, outputPeaks_[w])) {
                sum += *reduction;
                ++sounding;
            }
            bucketIn = std::max(bucketIn, in);
            bucketOut = std::max(bucketOut, outputPeaks_[w]);
        }
        const float reduction = reductionOf(bucketIn, bucketOut).value_or(0.0f);
        envelope.reductionDb[b] = reduction;
        envelope.maximumDb = std::max(envelope.maximumDb, reduction);
    }
    envelope.averageDb = sounding > 0 ? float(sum / double(sounding)) : 0.0f;
    return envelope;
}

} // namespace orvanta
