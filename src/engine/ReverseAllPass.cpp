#include "engine/ReverseAllPass.h"

#include "engine/CpuFeatures.h"

#include "engine/VectorBiquad.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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
float* ReverseAllPass::segmentOutput(int channel) {
    Channel& c = channels_[size_t(channel)];
    if (c.outputStart > 0) {
        std::memmove(c.output.data(), c.output.data() + c.outputStart, (c.outputEnd - c.outputStart) * sizeof(float));
        c.outputEnd -= c.outputStart;
        c.outputStart = 0;
    }
    return c.output.data() + c.outputEnd;
}

void ReverseAllPass::segmentDone(int channel) {
    Channel& c = channels_[size_t(channel)];
    c.outputEnd += segment_;
    c.inputFrames -= segment_;
    c.inputStart += segment_;
}

void ReverseAllPass::filterSegment(int channel) {
    Channel& c = channels_[size_t(channel)];
    const int64_t span = int64_t(segment_) + settling_;
    float* const produced = segmentOutput(channel);
    const float* const input = c.input.data() + c.inputStart;
#if defined(__SSE2__)
    if (allPasses_.size() <= 4) {
        const LR4Coefficients* lanes[4] = {};
        for (size_t k = 0; k < allPasses_.size(); ++k) lanes[k] = &allPasses_[k];
        const Biquad4 coefficients = gatherLaneCoefficients<SseLanes>(lanes);
        const int last = int(allPasses_.size()) - 1;
        Memory4 memory{_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
        alignas(16) float lanesOut[4] = {};
        for (int64_t t = 0; t < span + last; ++t) {
            const int64_t n = span - 1 - t; // the sample lane 0 takes; lane k holds sample n + k
            // Each lane's input is the previous step's output of the lane before it.
            const __m128 shifted = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(_mm_load_ps(lanesOut)), 4));
            const __m128 x = _mm_move_ss(shifted, _mm_set_ss(n >= 0 ? input[n] : 0.0f));
            _mm_store_ps(lanesOut, biquadStep(coefficients, memory, x));
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
    segmentDone(channel);
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// The pipeline of filterSegment for two channels at once: the first in the low four lanes, the
// second in the high four, each half shifting within itself. Same operations, same order, same bits.
// `Segments` consecutive segments (each `segment` samples apart in input and output) go through in
// the same steps: every segment starts from rest, so they are independent, and their recursions
// interleave, each hiding the others' latency.
template <int Segments>
[[gnu::target("avx2")]] void filterPairSegments(const std::vector<LR4Coefficients>& allPasses, const float* inputA,
                                                const float* inputB, float* producedA, float* producedB,
                                                int64_t span, int64_t segment) {
    alignas(16) float v[5][4] = {};
    for (size_t k = 0; k < allPasses.size(); ++k) {
        v[0][k] = allPasses[k].b0;
        v[1][k] = allPasses[k].b1;
        v[2][k] = allPasses[k].b2;
        v[3][k] = allPasses[k].a1;
        v[4][k] = allPasses[k].a2;
    }
    // The same four lanes in both halves.
    const __m256 b0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v[0]));
    const __m256 b1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v[1]));
    const __m256 b2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v[2]));
    const __m256 a1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v[3]));
    const __m256 a2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(v[4]));
    __m256 x1[Segments], x2[Segments], y1[Segments], y2[Segments];
    for (int s = 0; s < Segments; ++s) x1[s] = x2[s] = y1[s] = y2[s] = _mm256_setzero_ps();
    const int last = int(allPasses.size()) - 1;
    for (int64_t t = 0; t < span + last; ++t) {
        const int64_t n = span - 1 - t;
        const int64_t done = n + last;
        for (int s = 0; s < Segments; ++s) {
            const int64_t at = int64_t(s) * segment;
            const __m256 shifted = _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(y1[s]), 4));
            const __m256 fresh =
                n >= 0 ? _mm256_setr_ps(inputA[at + n], 0, 0, 0, inputB[at + n], 0, 0, 0) : _mm256_setzero_ps();
            const __m256 x = _mm256_blend_ps(shifted, fresh, 0x11);
            __m256 y = _mm256_add_ps(_mm256_mul_ps(b0, x), _mm256_mul_ps(b1, x1[s]));
            y = _mm256_add_ps(y, _mm256_mul_ps(b2, x2[s]));
            y = _mm256_sub_ps(y, _mm256_mul_ps(a1, y1[s]));
            y = _mm256_sub_ps(y, _mm256_mul_ps(a2, y2[s]));
            x2[s] = x1[s];
            x1[s] = x;
            y2[s] = y1[s];
            y1[s] = y;
            if (t >= last && done < segment) {
                alignas(32) float lanes[8];
                _mm256_store_ps(lanes, y);
                producedA[at + done] = lanes[last];
                producedB[at + done] = lanes[4 + last];
            }
        }
    }
}

} // namespace
#endif

void ReverseAllPass::filterSegmentPair(int first) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (hasAvx2() && !allPasses_.empty() && allPasses_.size() <= 4) {
        const int64_t span = int64_t(segment_) + settling_;
        // Every segment whose settling span has arrived (the caller asks only when one has), up to
        // four at a time.
        const size_t ready = std::min<size_t>((channels_[size_t(first)].inputFrames - settling_) / segment_, 4);
        float* const producedA = segmentOutput(first);
        float* const producedB = segmentOutput(first + 1);
        const Channel& a = channels_[size_t(first)];
        const Channel& b = channels_[size_t(first) + 1];
        const float* const inputA = a.input.data() + a.inputStart;
        const float* const inputB = b.input.data() + b.inputStart;
        const int64_t segment = int64_t(segment_);
        switch (ready) {
        case 4: filterPairSegments<4>(allPasses_, inputA, inputB, producedA, producedB, span, segment); break;
        case 3: filterPairSegments<3>(allPasses_, inputA, inputB, producedA, producedB, span, segment); break;
        case 2: filterPairSegments<2>(allPasses_, inputA, inputB, producedA, producedB, span, segment); break;
        case 1: filterPairSegments<1>(allPasses_, inputA, inputB, producedA, producedB, span, segment); break;
        }
        for (size_t k = 0; k < ready; ++k) {
            segmentDone(first);
            segmentDone(first + 1);
        }
        return;
    }
#endif
    filterSegment(first);
    filterSegment(first + 1);
}

// The samples not yet produced move to the front once per call, not once per segment; then the
// new ones follow them.
void ReverseAllPass::appendInput(Channel& c, const float* samples, uint32_t count) {
    if (c.inputStart > 0) {
        std::memmove(c.input.data(), c.input.data() + c.inputStart, c.inputFrames * sizeof(float));
        c.inputStart = 0;
    }
    std::memcpy(c.input.data() + c.inputFrames, samples, count * sizeof(float));
}

void ReverseAllPass::process(int channel, float* samples, uint32_t count) {
    Channel& c = channels_[size_t(channel)];
    appendInput(c, samples, count);
    c.inputFrames += count;
    while (c.inputFrames >= size_t(segment_) + settling_) filterSegment(channel);
    std::memcpy(samples, c.output.data() + c.outputStart, count * sizeof(float));
    c.outputStart += count;
}

void ReverseAllPass::processPair(int first, float* firstSamples, float* secondSamples, uint32_t count) {
    float* const samples[2] = {firstSamples, secondSamples};
    for (int k = 0; k < 2; ++k) {
        Channel& c = channels_[size_t(first + k)];
        appendInput(c, samples[k], count);
        c.inputFrames += count;
    }
    // Both channels always hold the same number of samples.
    while (channels_[size_t(first)].inputFrames >= size_t(segment_) + settling_) filterSegmentPair(first);
    for (int k = 0; k < 2; ++k) {
        Channel& c = channels_[size_t(first + k)];
        std::memcpy(samples[k], c.output.data() + c.outputStart, count * sizeof(float));
        c.outputStart += count;
    }
}

} // namespace orvanta
