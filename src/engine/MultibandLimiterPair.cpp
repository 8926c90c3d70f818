// The band limiter's block path for two channels at once in the eight lanes of AVX2: the first
// channel's four bands in the low half, the second's in the high half. Each channel gives the same
// bits and leaves the same state as processBlock would; one instruction does the work of two, and the
// recursions of both channels overlap in the processor.
#include "engine/CpuFeatures.h"
#include "engine/LaneVectors.h"
#include "engine/MultibandLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(ORVANTA_WIDE_LANES)
#pragma GCC push_options
#pragma GCC target("avx2")
#include "engine/MultibandLimiterLanes.h"

namespace orvanta {
template class MultibandLimiterEngine::LaneBlock<Avx2Lanes>;
} // namespace orvanta

#pragma GCC pop_options
#endif

namespace orvanta {

void MultibandLimiterEngine::processBlockPair(int first, const float* const* inputs, float* const* outputs,
                                              uint32_t count, float inputGain) {
#if defined(ORVANTA_WIDE_LANES)
    if (count > 0 && hasAvx2() && first % 2 == 0 && size_t(first / 2) < pairRows_.size()) {
        LaneBlock<Avx2Lanes>(*this, first, inputs, outputs, pairRows_[size_t(first / 2)]).process(count, inputGain);
        return;
    }
#endif
    processBlock(first, inputs[0], outputs[0], count, inputGain);
    processBlock(first + 1, inputs[1], outputs[1], count, inputGain);
}

} // namespace orvanta
