#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"

#include <vector>

namespace orvanta::AudioAnalyzer {

// Mean of all channels over the buffer's valid frames (single precision: channel sums, then one
// multiplication by 1 ÷ channelCount). progress receives the share of frames done after each chunk.
// Empty for a buffer without frames. Any thread; throws only the cancellation error.
std::vector<float> mixToMono(const AudioBuffer& buffer, const ProgressCallback& progress = {},
                             const CancellationQuery& isCancelled = {});

// Ratio of the 90th to the 10th percentile of the RMS of 4096-sample windows (hop 2048) above
// −80 dBFS, in dB clamped to 0…60; 0 with fewer than 11 such windows. Pure; any thread.
double measureDynamicRange(const std::vector<float>& mono);
// The same from the RMS of each of those windows, in any order (quiet ones included).
double dynamicRangeOfWindows(std::vector<float> windowRms);
inline constexpr size_t dynamicRangeWindow = 4096; // samples
inline constexpr size_t dynamicRangeHop = 2048;    // samples

struct ClippingMeasurement {
    int clippingCount = 0;     // samples with |x| ≥ 1.0
    double clippingFraction = 0; // count ÷ samples, 0…1 (0 for an empty signal)
};
// Pure; any thread.
ClippingMeasurement measureClipping(const std::vector<float>& mono);

} // namespace orvanta::AudioAnalyzer
