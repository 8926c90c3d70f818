#pragma once

#include "platform/Biquad.h"

#include <cstddef>

namespace orvanta {

// K-weighting of one channel: high-pass, then shelf (kWeightingCoefficients of the rate), in single
// precision, state carried from one block to the next. process() never allocates. Any thread, one at
// a time.
class KWeightingFilter {
public:
    explicit KWeightingFilter(double sampleRate) : coefficients_(kWeightingCoefficients(sampleRate)) {}

    // out[i] = K(in[i]) for n samples; out may equal in.
    void process(const float* in, float* out, size_t n) noexcept;
    void reset() noexcept { highPass_ = shelf_ = {}; }

    // Two filters over their own channels, with the same results as two process() calls. When both
    // have the same coefficients the two channels run side by side in one vector, at about the cost
    // of one.
    static void processPair(KWeightingFilter& first, const float* firstIn, float* firstOut,
                            KWeightingFilter& second, const float* secondIn, float* secondOut, size_t n) noexcept;

private:
    KWeightingCoefficients coefficients_;
    FilterState highPass_;
    FilterState shelf_;
};

} // namespace orvanta
