// The band limiter's block path for one channel in the four lanes of SSE; the instructions every
// x86-64 processor has.
#include "engine/MultibandLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include "engine/MultibandLimiterLanes.h"
#endif

namespace orvanta {

#if defined(__SSE2__)

template class MultibandLimiterEngine::LaneBlock<SseLanes>;

void MultibandLimiterEngine::processBlock(int channel, float* samples, uint32_t count, float inputGain) {
    if (count == 0) return;
    LaneRows& rows = bandLimiterStates_[size_t(channel)].rows;
    if (!hasFourBandLayout() || rows.history.empty()) {
        for (uint32_t i = 0; i < count; ++i) samples[i] = processSample(channel, samples[i], inputGain);
        return;
    }
    float* const lanes[1] = {samples};
    LaneBlock<SseLanes>(*this, channel, lanes, rows).process(count, inputGain);
}

#else

void MultibandLimiterEngine::processBlock(int channel, float* samples, uint32_t count, float inputGain) {
    for (uint32_t i = 0; i < count; ++i) samples[i] = processSample(channel, samples[i], inputGain);
}

#endif

} // namespace orvanta
