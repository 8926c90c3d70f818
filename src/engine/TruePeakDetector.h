#pragma once

#include "engine/ProcessingTypes.h"
#include "engine/QuarterSampleInterpolator.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvanta {

// 4x oversampled peak detection in the manner of ITU-R BS.1770-4 Annex 2: the largest magnitude of
// each sample and the three points a quarter, a half and three quarters of a sample after it. That
// bounds what a converter puts out between two samples far better than the sample peak does. Per-channel history sized once; no
// allocation while processing. One detector belongs to one thread at a time, except that different
// channels may be processed on different threads.
class TruePeakDetector {
public:
    // The points reported for input sample n belong to sample n − latencySamples.
    static constexpr int latencySamples = QuarterSampleInterpolator::latencySamples;

    explicit TruePeakDetector(int channelCount);

    int channelCount() const noexcept { return int(history_.size()); }
    void reset();

    // For every input sample, writes the largest magnitude of the four points that start at the sample
    // latencySamples earlier (zeros before the first sample). `peaks` may be null when only the running
    // maximum is wanted; it may not alias `samples`.
    void process(int channel, const float* samples, uint32_t count, float* peaks);
    // Flushes the last latencySamples points of a channel, as if that many zeros followed.
    void flush(int channel, float* peaks);

    // Largest magnitude seen on a channel since the last reset (linear).
    float maximum(int channel) const noexcept { return maxima_[size_t(channel)]; }
    float maximum() const noexcept;

private:
    // Each channel's last taps − 1 inputs, then room for one run.
    struct alignas(64) ChannelHistory {
        std::vector<float> samples;
    };
    std::vector<ChannelHistory> history_;
    std::vector<float> maxima_;
};

// The true peak of a whole file in dBTP (20·log10 of the linear maximum over all channels; −inf for
// digital silence). Reads in chunks; any thread. Throws the reader's errors, or Orvanta/100 when
// `isCancelled` answers yes between chunks.
double measureTruePeakDb(const std::filesystem::path& path, const CancellationQuery& isCancelled = {});

} // namespace orvanta
