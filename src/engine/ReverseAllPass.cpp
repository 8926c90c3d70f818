#include "engine/ReverseAllPass.h"

#include "engine/VectorBiquad.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cstring>

namespace orvanta {

ReverseAllPass::ReverseAllPass(int channelCount, float sampleRate, const std::vector<LR4Coefficients>& allPasses,
                               uint32_t maxBlockFrames)
    : allPasses_(allPasses), segment_(32768), settling_(uint32_t(sampleRate * 0.1f)),
      channels_(size_t(std::max(channelCount, 0))) {
    for (Channel& channel : channels_) {
        channel.input.assign(size_t(segment_) + settling_ + maxBlockFrames, 0.0f);
        // The first latencySamples outputs come before any input: silence.
        channel.output.assign(size_t(latencySamples()) + segment_ + maxBlockFrames, 0.0f);
        channel.outputEnd = size_t(latencySamples());
        channel.memory.assign(allPasses_.size(), {});
    }
}

// The oldest `segment_` input samples, filtered backwards from the end of the settling span, become
// the next outputs. The all-passes run as a pipeline in vector lanes: in step t, lane k takes what
// lane k − 1 gave in step t − 1, so every lane sees its samples in order and gives the bits of the
// scalar cascade.
void ReverseAllPass::filterSegment(int channel) {
    Channel& c = channels_[size_t(channel)];
    if (c.outputStart > 0) {
        std::memmove(c.output.data(), c.output.data() + c.outputStart, (c.outputEnd - c.outputStart) * sizeof(float));
        c.outputEnd -= c.outputStart;
        c.outputStart = 0;
    }
    const int64_t span = int64_t(segment_) + settling_;
    float* const produced = c.output.data() + c.outputEnd;
    const float* const input = c.input.data();
#if defined(__SSE2__)
    if (allPasses_.size() <= 4) {
        const LR4Coefficients* lanes[4] = {};
        for (size_t k = 0; k < allPasses_.size(); ++k) lanes[k] = &allPasses_[k];
        const Biquad4 coefficients = gatherCoefficients(lanes);
        const int last = int(allPasses_.size()) - 1;
        Memory4 memory{_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
        alignas(16) float lanesOut[4] = {};
        for (int64_t t = 0; t < span + last; ++t) {
            const int64_t n = span - 1 - t; // the sample lane 0 takes; lane k holds sample n + k
            // Each lane's input is the previous step's output of the lane before it.
            const __m128 shifted = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(_mm_load_ps(lanesOut)), 4));
            const __m128 x = _mm_move_ss(shifted, _mm_set_ss(n >= 0 ? input[n] : 0.0f));
            _mm_store_ps(lanesOut, biquad4(coefficients, memory, x));
            const int64_t done = n + last;
            if (t >= last && done < int64_t(segment_)) produced[done] = lanesOut[last];
        }
    } else
#endif
    {
        std::vector<CrossoverMemory>& memory = c.memory;
        std::fill(memory.begin(), memory.end(), CrossoverMemory{});
        for (int64_t n = span; n-- > 0;) {
            float y = input[n];
            for (size_t k = 0; k < allPasses_.size(); ++k) y = biquadStep(allPasses_[k], memory[k], y);
            if (n < int64_t(segment_)) produced[n] = y;
        }
    }
    c.outputEnd += segment_;
    c.inputFrames -= segment_;
    std::memmove(c.input.data(), c.input.data() + segment_, c.inputFrames * sizeof(float));
}

void ReverseAllPass::process(int channel, float* samples, uint32_t count) {
    Channel& c = channels_[size_t(channel)];
    std::memcpy(c.input.data() + c.inputFrames, samples, count * sizeof(float));
    c.inputFrames += count;
    while (c.inputFrames >= size_t(segment_) + settling_) filterSegment(channel);
    std::memcpy(samples, c.output.data() + c.outputStart, count * sizeof(float));
    c.outputStart += count;
}

} // namespace orvanta
