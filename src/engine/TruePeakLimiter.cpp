#include "engine/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvanta {

TruePeakLimiter::TruePeakLimiter(int channelCount, float sampleRate, float ceilingLinear, uint32_t maxBlockFrames,
                                 TruePeakLimiterTiming timing)
    : ceiling_(ceilingLinear), lookAhead_(std::max(1, int(std::lround(sampleRate * timing.lookAheadSeconds)))),
      release_(std::exp(-1.0f / (sampleRate * timing.releaseSeconds))), detector_(channelCount) {
    // The hold must at least cover the samples that follow a peak within the interpolator's reach.
    const int hold = std::max(QuarterSampleInterpolator::latencySamples, int(std::lround(sampleRate * timing.holdSeconds)));
    holdWindow_ = lookAhead_ + hold + 1;
    const size_t channels = size_t(std::max(channelCount, 0));
    for (auto& set : peaks_) set.assign(channels, std::vector<float>(maxBlockFrames, 0.0f));
    delays_.assign(channels, std::vector<float>(size_t(latencySamples()) + maxBlockFrames, 0.0f));
    gains_.assign(maxBlockFrames, 1.0f);
    minimumAt_.assign(size_t(holdWindow_) + 1, 0);
    minimumGain_.assign(size_t(holdWindow_) + 1, 1.0f);
    averaged_.assign(size_t(lookAhead_) + 1, 1.0f);
    gainSum_ = double(lookAhead_ + 1);
}

void TruePeakLimiter::detect(int channel, const float* samples, uint32_t count, int peakSet) {
    detector_.process(channel, samples, count, peaks_[peakSet][size_t(channel)].data());
}

// Ceiling over the linked peak of every sample; loops of their own, so that they run in vector lanes.
void TruePeakLimiter::computeRequiredGains(const std::vector<std::vector<float>>& peaks, uint32_t count) noexcept {
    float* const linked = gains_.data();
    std::fill(linked, linked + count, 0.0f);
    for (const std::vector<float>& channel : peaks) {
        const float* peak = channel.data();
        for (uint32_t n = 0; n < count; ++n) linked[n] = std::max(linked[n], peak[n]);
    }
    const float ceiling = ceiling_;
    for (uint32_t n = 0; n < count; ++n) linked[n] = linked[n] > ceiling ? ceiling / linked[n] : 1.0f;
}

// Monotonic queue: the front holds the smallest gain of the window; a new gain drops every larger
// one from the back, since it outlives them. Ring positions wrap by comparison: a division per step
// would cost more than the rest of the sample.
inline float TruePeakLimiter::slidingMinimum(float required) noexcept {
    const size_t capacity = minimumAt_.size();
    size_t back = minimumHead_ + minimumCount_; // one past the newest, unwrapped
    while (minimumCount_ > 0) {
        const size_t newest = back - 1 >= capacity ? back - 1 - capacity : back - 1;
        if (minimumGain_[newest] < required) break;
        --minimumCount_;
        --back;
    }
    const size_t slot = back >= capacity ? back - capacity : back;
    minimumAt_[slot] = sampleNumber_;
    minimumGain_[slot] = required;
    ++minimumCount_;
    if (minimumAt_[minimumHead_] <= sampleNumber_ - holdWindow_) {
        minimumHead_ = minimumHead_ + 1 == capacity ? 0 : minimumHead_ + 1;
        --minimumCount_;
    }
    ++sampleNumber_;
    return minimumGain_[minimumHead_];
}

// Falls at once to the held minimum, rises towards it with the release, then averaged over the
// look-ahead: one recursion, sample by sample.
void TruePeakLimiter::smoothGains(uint32_t count) noexcept {
    const double averageScale = 1.0 / double(lookAhead_ + 1);
    float* const gains = gains_.data();
    float released = released_;
    double gainSum = gainSum_;
    float smallest = smallestGain_;
    size_t averageIndex = averageIndex_;
    float* const averaged = averaged_.data();
    const size_t averageLength = averaged_.size();
    for (uint32_t n = 0; n < count; ++n) {
        const float held = slidingMinimum(gains[n]);
        released = held < released ? held : release_ * released + (1.0f - release_) * held;
        released = std::min(released, held);
        gainSum += double(released) - double(averaged[averageIndex]);
        averaged[averageIndex] = released;
        averageIndex = averageIndex + 1 == averageLength ? 0 : averageIndex + 1;
        // Every gain in the average is at or under what the leaving sample needs.
        const float gain = float(gainSum * averageScale);
        smallest = std::min(smallest, gain);
        gains[n] = gain;
    }
    released_ = released;
    gainSum_ = gainSum;
    smallestGain_ = smallest;
    averageIndex_ = averageIndex;
}

// Each channel leaves latencySamples() late, scaled by the gain of the moment it leaves.
void TruePeakLimiter::delayAndScale(float* const* channels, uint32_t count) noexcept {
    const size_t delay = size_t(latencySamples());
    const float* const gains = gains_.data();
    for (size_t c = 0; c < delays_.size(); ++c) {
        float* const line = delays_[c].data();
        float* const samples = channels[c];
        std::memcpy(line + delay, samples, count * sizeof(float));
        for (uint32_t n = 0; n < count; ++n) samples[n] = line[n] * gains[n];
        std::memmove(line, line + count, delay * sizeof(float));
    }
}

void TruePeakLimiter::apply(float* const* channels, uint32_t count, int peakSet) {
    computeRequiredGains(peaks_[peakSet], count);
    smoothGains(count);
    delayAndScale(channels, count);
}

} // namespace orvanta
