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

void MultibandLimiterEngine::processBlock(int channel, const float* input, float* output, uint32_t count,
                                          float inputGain) {
    if (count == 0) return;
    LaneRows& rows = bandLimiterStates_[size_t(channel)].rows;
    if (!hasFourBandLayout() || rows.history.empty()) {
        for (uint32_t i = 0; i < count; ++i) output[i] = processSample(channel, input[i], inputGain);
        return;
    }
    const float* const inputs[1] = {input};
    float* const outputs[1] = {output};
    LaneBlock<SseLanes>(*this, channel, inputs, outputs, rows).process(count, inputGain);
}

#else

void MultibandLimiterEngine::processBlock(int channel, const float* input, float* output, uint32_t count,
                                          float inputGain) {
    for (uint32_t i = 0; i < count; ++i) output[i] = processSample(channel, input[i], inputGain);
}

#endif

} // namespace orvanta
