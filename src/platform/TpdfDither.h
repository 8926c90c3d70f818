#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvanta {

// How the dither's noise is spread over the spectrum.
enum class DitherShape {
    flat,        // white TPDF noise, about −96 dBFS RMS at 16 bits with the rounding it hides
    noiseShaped, // the same noise pushed above about 12 kHz (E-weighted error feedback for 44.1/48 kHz):
                 // 15 to 27 dB lower below 6 kHz, where hearing is most sensitive, higher in total
};

// Reduces float samples (full scale ±1.0) to 16-bit integers with triangular (TPDF) dither of ±1 LSB,
// so that the rounding error becomes steady noise independent of the signal: a tone far below one
// LSB stays audible instead of being truncated away. Each channel has its own deterministic noise
// sequence from `seed`, so the same samples always give the same integers (byte-identical files).
// Samples beyond full scale are clipped; non-finite ones become 0. State is sized at construction;
// quantize() never allocates. One instance per file, one thread at a time.
class TpdfDither {
public:
    static constexpr uint32_t defaultSeed = 0x2545F491u;

    TpdfDither(uint32_t channelCount, DitherShape shape, uint32_t seed = defaultSeed);

    // Quantises `frames` samples of `channel` from `in` into every `stride`-th element of `out`.
    void quantize(uint32_t channel, const float* in, int16_t* out, size_t stride, uint32_t frames) noexcept;

private:
    static constexpr size_t shapingTaps = 5;
    struct ChannelState {
        uint32_t random = 0;                          // xorshift32 state, never 0
        std::array<float, shapingTaps> errors{};      // the last quantisation errors, LSB, newest first
    };
    float nextUniform(ChannelState& state) noexcept; // uniform in [0, 1)

    DitherShape shape_;
    std::vector<ChannelState> channels_;
};

} // namespace orvanta
