#include "engine/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

TruePeakLimiter::TruePeakLimiter(int channelCount, float sampleRate, float ceilingLinear, uint32_t maxBlockFrames,
                                 TruePeakLimiterTiming timing)
    : ceiling_(ceilingLinear), lookAhead_(std::max(1, int(std::lround(sampleRate * timing.lookAheadSeconds)))),
      release_(std::exp(-1.0f / (sampleRate * timing.releaseSeconds))), detector_(channelCount) {
    // The hold must at least cover the samples that follow a peak within the interpolator's reach.
    const int hold = std::max(QuarterSampleInterpolator::latencySamples, int(std::lround(sampleRate * timing.holdSeconds)));
    holdWindow_ = lookAhead_ + hold + 1;
    const size_t channels = size_t(std::max(channelCount, 0));
    peaks_.assign(channels, std::vector<float>(maxBlockFrames, 0.0f));
    delays_.assign(channels, std::vector<float>(size_t(latencySamples()), 0.0f));
    minimumAt_.assign(size_t(holdWindow_) + 1, 0);
    minimumGain_.assign(size_t(holdWindow_) + 1, 1.0f);
    averaged_.assign(size_t(lookAhead_) + 1, 1.0f);
    gainSum_ = double(lookAhead_ + 1);
}

void TruePeakLimiter::detect(int channel, const float* samples, uint32_t count) {
    detector_.process(channel, samples, count, peaks_[size_t(channel)].data());
}

inline float TruePeakLimiter::requiredGain(uint32_t frame) const noexcept {
    float peak = 0.0f;
    for (const std::vector<float>& channel : peaks_) peak = std::max(peak, channel[frame]);
    return peak > ceiling_ ? ceiling_ / peak : 1.0f;
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

void TruePeakLimiter::apply(float* const* channels, uint32_t count) {
    const size_t channelCount = peaks_.size();
    const size_t delayLength = size_t(latencySamples());
    const double averageScale = 1.0 / double(lookAhead_ + 1);
    for (uint32_t n = 0; n < count; ++n) {
        // Falls at once to the held minimum, rises towards it with the release.
        const float held = slidingMinimum(requiredGain(n));
        released_ = held < released_ ? held : release_ * released_ + (1.0f - release_) * held;
        released_ = std::min(released_, held);
        gainSum_ += double(released_) - double(averaged_[averageIndex_]);
        averaged_[averageIndex_] = released_;
        averageIndex_ = averageIndex_ + 1 == averaged_.size() ? 0 : averageIndex_ + 1;
        // Every gain in the average is at or under what the leaving sample needs.
        const float gain = float(gainSum_ * averageScale);
        smallestGain_ = std::min(smallestGain_, gain);

        for (size_t c = 0; c < channelCount; ++c) {
            float& slot = delays_[c][delayIndex_];
            const float leaving = slot;
            slot = channels[c][n];
            channels[c][n] = leaving * gain;
        }
        delayIndex_ = delayIndex_ + 1 == delayLength ? 0 : delayIndex_ + 1;
    }
}

} // namespace orvanta
