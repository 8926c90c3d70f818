#include "eq/EQFilter.h"

#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

bool hasActiveEQ(const EQSettings& settings) noexcept {
    for (const EQBand& band : settings.bands)
        if (std::fabs(band.gain) > 0.1f) return true;
    return std::fabs(settings.masterGain) > 0.01f;
}

bool needsHighCut(const std::vector<EQBand>& bands) noexcept {
    return bands.size() >= 12 && bands[10].gain <= -5.0f && bands[11].gain <= -5.0f;
}

bool filterFitsRate(float frequencyHz, float sampleRate) noexcept {
    return frequencyHz > 0.0f && frequencyHz < highestFilterFraction * sampleRate;
}

void applyGain(AudioBuffer& buffer, float gainDB) noexcept {
    if (!buffer.hasFloatData()) return;
    const float factor = std::pow(10.0f, gainDB / 20.0f);
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
        float* samples = buffer.channel(c);
        for (uint32_t i = 0; i < buffer.frameLength(); ++i) samples[i] *= factor;
    }
}

namespace {

// Direct Form I in place; the history lives in locals so the loop stays in registers.
void runBiquad(float* samples, uint32_t frames, const BiquadCoefficients& k, FilterState& state) noexcept {
    FilterState m = state;
    for (uint32_t i = 0; i < frames; ++i) samples[i] = biquadStep(k, m, samples[i]);
    state = m;
}

// Two channels' recursions interleaved, for instruction-level parallelism. Each channel sees exactly
// the arithmetic of runBiquad.
void runBiquadPair(float* left, float* right, uint32_t frames, const BiquadCoefficients& k, FilterState& leftState,
                   FilterState& rightState) noexcept {
    FilterState l = leftState, r = rightState;
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = biquadStep(k, l, left[i]);
        right[i] = biquadStep(k, r, right[i]);
    }
    leftState = l;
    rightState = r;
}

// A peaking band runs when it changes the level by more than a tenth of a decibel and its design is a
// stable filter at this rate.
bool bandIsFiltered(const EQBand& band, float sampleRate) noexcept {
    return std::fabs(band.gain) > 0.1f && std::isfinite(band.gain) && band.q > 0.0f && std::isfinite(band.q) &&
           filterFitsRate(band.frequency, sampleRate);
}

constexpr float highCutHz = 18000.0f;

} // namespace

void EQFilterBank::prepare(uint32_t channelCount) { channels_.assign(channelCount, {}); }

void EQFilterBank::reset() noexcept { std::fill(channels_.begin(), channels_.end(), ChannelHistory{}); }

void EQFilterBank::applyEQ(AudioBuffer& buffer, const EQSettings& settings, bool preserveState, bool applyHighCut,
                           float sampleRate) {
    if (!buffer.hasFloatData()) return;
    const uint32_t channels = buffer.channelCount();
    const uint32_t frames = buffer.frameLength();
    if (channels != channelCount()) {
        prepare(channels);
    } else if (!preserveState) {
        reset();
    }
    if (channels == 0) return;
    // Up to about 38 kHz the corner sits at or too near Nyquist; what little lies above it stays uncut.
    applyHighCut = applyHighCut && filterFitsRate(highCutHz, sampleRate);
    const BiquadCoefficients highCut = applyHighCut ? butterworthLowPass(highCutHz, sampleRate) : BiquadCoefficients{};
    const size_t usableBands = std::min(settings.bands.size(), bandSlots);

    std::array<bool, bandSlots> filtered{};
    std::array<BiquadCoefficients, bandSlots> bandCoefficients{};
    for (size_t i = 0; i < usableBands; ++i) {
        const EQBand& band = settings.bands[i];
        filtered[i] = bandIsFiltered(band, sampleRate);
        if (filtered[i]) bandCoefficients[i] = peakingEQ(band.frequency, band.gain, band.q, sampleRate);
    }

    // Channels run two at a time, side by side; a last odd channel runs alone.
    for (uint32_t ch = 0; ch < channels; ch += 2) {
        ChannelHistory& first = channels_[ch];
        if (ch + 1 < channels) {
            ChannelHistory& second = channels_[ch + 1];
            float* left = buffer.channel(ch);
            float* right = buffer.channel(ch + 1);
            for (size_t i = 0; i < usableBands; ++i)
                if (filtered[i]) runBiquadPair(left, right, frames, bandCoefficients[i], first.bands[i], second.bands[i]);
            if (applyHighCut) runBiquadPair(left, right, frames, highCut, first.highCut, second.highCut);
        } else {
            for (size_t i = 0; i < usableBands; ++i)
                if (filtered[i]) runBiquad(buffer.channel(ch), frames, bandCoefficients[i], first.bands[i]);
            if (applyHighCut) runBiquad(buffer.channel(ch), frames, highCut, first.highCut);
        }
    }
}

std::optional<AudioBuffer> processWithEQ(EQFilterBank& bank, const AudioBuffer& source, const EQSettings& settings,
                                         bool preserveState) {
    if (!settings.isEnabled || !hasActiveEQ(settings) || !source.hasFloatData()) return std::nullopt;
    std::optional<AudioBuffer> filtered;
    try {
        filtered = source.copy();
    } catch (const std::bad_alloc&) {
        return std::nullopt; // the source plays unprocessed rather than not at all
    }
    bank.applyEQ(*filtered, settings, preserveState, needsHighCut(settings.bands), float(filtered->sampleRate()));
    if (std::fabs(settings.masterGain) > 0.01f) applyGain(*filtered, settings.masterGain);
    return filtered;
}

} // namespace orvanta
