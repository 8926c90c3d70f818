#include "engine/GainReductionEnvelope.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

GainReductionTracker::GainReductionTracker(double sampleRate, int64_t totalFrames, float inputGain)
    : sampleRate_(sampleRate), inputGain_(inputGain) {
    const int64_t frames = std::max<int64_t>(totalFrames, 0);
    const int64_t shortest = std::max<int64_t>(1, std::llround(sampleRate * shortestBucketSeconds));
    bucketFrames_ = std::max(shortest, (frames + targetPoints - 1) / targetPoints);
    const size_t buckets = size_t((frames + bucketFrames_ - 1) / bucketFrames_);
    inputPeaks_.assign(buckets, 0.0f);
    outputPeaks_.assign(buckets, 0.0f);
}

void GainReductionTracker::addPeaks(std::vector<float>& peaks, int64_t& position, const float* const* channels,
                                    uint32_t channelCount, uint32_t frames) const noexcept {
    // Frames past the song (a flush) have no bucket.
    int64_t first = position;
    const int64_t end = std::min(position + int64_t(frames), int64_t(peaks.size()) * bucketFrames_);
    while (first < end) {
        const int64_t bucket = first / bucketFrames_;
        const int64_t stop = std::min(end, (bucket + 1) * bucketFrames_);
        float peak = peaks[size_t(bucket)];
        for (uint32_t c = 0; c < channelCount; ++c) {
            const float* samples = channels[c] + (first - position);
            for (int64_t i = 0; i < stop - first; ++i) peak = std::max(peak, std::fabs(samples[i]));
        }
        peaks[size_t(bucket)] = peak;
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

GainReductionEnvelope GainReductionTracker::finish() const {
    GainReductionEnvelope envelope;
    envelope.bucketSeconds = sampleRate_ > 0 ? double(bucketFrames_) / sampleRate_ : 0.0;
    envelope.reductionDb.resize(inputPeaks_.size());
    double sum = 0.0;
    size_t sounding = 0;
    for (size_t b = 0; b < inputPeaks_.size(); ++b) {
        const float in = inputPeaks_[b] * std::fabs(inputGain_);
        float reduction = 0.0f;
        // NaN peaks (invalid input samples) count as silent.
        if (in >= silentPeak) {
            // An output silenced by the chain counts as 120 dB down rather than infinitely.
            const float out = std::max(outputPeaks_[b], in * 1e-6f);
            reduction = std::max(0.0f, 20.0f * std::log10(in / out));
            sum += reduction;
            ++sounding;
        }
        envelope.reductionDb[b] = reduction;
        envelope.maximumDb = std::max(envelope.maximumDb, reduction);
    }
    envelope.averageDb = sounding > 0 ? float(sum / double(sounding)) : 0.0f;
    return envelope;
}

} // namespace orvanta
