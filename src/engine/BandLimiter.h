#pragma once

#include <cstdint>
#include <vector>

namespace orvanta {

// A linear-phase low-pass (Kaiser-windowed sinc) that removes what a lossy codec would cut: placed
// before the true-peak limiter, it lets the limiter see the band the codec keeps, so the decoded
// peaks are those the limiter held instead of the overshoot of a band limit applied after it.
// Passes 0 to `passHz` within ±0.05 dB and stops from `stopHz` on (at least 60 dB down). Per-channel
// history sized once; channels may run on different threads; no allocation while processing.
class BandLimiter {
public:
    // `passHz` ≤ 0, or a pass band reaching the Nyquist frequency, leaves the signal untouched.
    BandLimiter(int channelCount, double sampleRate, double passHz, double stopHz);

    bool isActive() const noexcept { return !taps_.empty(); }
    int latencySamples() const noexcept { return isActive() ? int(taps_.size() / 2) : 0; }
    // Replaces `count` samples of `channel` by the filtered output, latencySamples() late.
    void process(int channel, float* samples, uint32_t count);

private:
    static constexpr uint32_t runFrames = 512;
    std::vector<float> taps_; // odd length, symmetric
    struct alignas(64) Channel {
        std::vector<float> window; // the last taps − 1 inputs, then one run
    };
    std::vector<Channel> channels_;
};

} // namespace orvanta
