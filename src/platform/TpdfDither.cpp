#include "platform/TpdfDither.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

constexpr float lsbPerFullScale = 32768.0f;

// Error-feedback filter of Lipshitz, Vanderkooy and Wannamaker's "minimally audible noise shaping"
// (J. AES 39(11), 1991), E-weighted for 44.1 kHz: the output's noise is the quantiser's error through
// 1 − Σ h_k z^-(k+1): 15 to 27 dB lower below 6 kHz, up to 19 dB higher towards Nyquist.
constexpr std::array<float, 5> eWeighted = {2.033f, -2.165f, 1.959f, -1.590f, 0.6149f};

} // namespace

TpdfDither::TpdfDither(uint32_t channelCount, DitherShape shape, uint32_t seed)
    : shape_(shape), channels_(channelCount) {
    for (uint32_t c = 0; c < channelCount; ++c) {
        // Distinct, non-zero starting states: the channels' noises are uncorrelated.
        uint32_t state = seed ^ (0x9E3779B9u * (c + 1));
        channels_[c].random = state != 0 ? state : 1u;
    }
}

float TpdfDither::nextUniform(ChannelState& state) noexcept {
    uint32_t x = state.random;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state.random = x;
    return float(x >> 8) * (1.0f / 16777216.0f);
}

void TpdfDither::quantize(uint32_t channel, const float* in, int16_t* out, size_t stride, uint32_t frames) noexcept {
    ChannelState& state = channels_[channel];
    const bool shaped = shape_ == DitherShape::noiseShaped;
    for (uint32_t i = 0; i < frames; ++i) {
        const float x = std::isfinite(in[i]) ? in[i] * lsbPerFullScale : 0.0f;
        float wanted = x;
        if (shaped) {
            for (size_t k = 0; k < shapingTaps; ++k) wanted -= eWeighted[k] * state.errors[k];
        }
        // The difference of two uniform values: triangular over ±1 LSB, white.
        const float dither = nextUniform(state) - nextUniform(state);
        const float rounded = std::nearbyint(wanted + dither);
        if (shaped) {
            // The error before clipping, so that a clipped peak cannot drive the feedback away.
            std::copy_backward(state.errors.begin(), state.errors.end() - 1, state.errors.end());
            state.errors[0] = std::clamp(rounded - wanted, -2.0f, 2.0f);
        }
        out[size_t(i) * stride] = int16_t(std::clamp(rounded, -32768.0f, 32767.0f));
    }
}

} // namespace orvanta
