#include "engine/ReverseAllPass.h"

#include "platform/Biquad.h"

#include <algorithm>
#include <cstring>

namespace orvanta {

ReverseAllPass::ReverseAllPass(int channelCount, float sampleRate, const std::vector<LR4Coefficients>& allPasses,
                               uint32_t maxBlockFrames)
    : allPasses_(allPasses), segment_(16384), settling_(uint32_t(sampleRate * 0.1f)),
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
// the next outputs.
void ReverseAllPass::filterSegment(int channel) {
    Channel& c = channels_[size_t(channel)];
    if (c.outputStart > 0) {
        std::memmove(c.output.data(), c.output.data() + c.outputStart, (c.outputEnd - c.outputStart) * sizeof(float));
        c.outputEnd -= c.outputStart;
        c.outputStart = 0;
    }
    const size_t span = size_t(segment_) + settling_;
    std::vector<CrossoverMemory>& memory = c.memory;
    std::fill(memory.begin(), memory.end(), CrossoverMemory{});
    float* produced = c.output.data() + c.outputEnd;
    for (size_t n = span; n-- > 0;) {
        float y = c.input[n];
        for (size_t k = 0; k < allPasses_.size(); ++k) y = biquadStep(allPasses_[k], memory[k], y);
        if (n < segment_) produced[n] = y;
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
