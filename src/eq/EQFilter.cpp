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

struct Coefficients {
    float b0, b1, b2, a1, a2;
};

Coefficients peakingCoefficients(const EQBand& band, float sampleRate) {
    const float w0 = band.frequency * 6.283185f / sampleRate;
    const float sn = std::sin(w0);
    const float cs = std::cos(w0);
    const float A = std::pow(10.0f, band.gain / 40.0f);
    const float alpha = sn / (band.q + band.q);
    const float a0 = 1.0f + alpha / A;
    return {(1.0f + alpha * A) / a0, -2.0f * cs / a0, (1.0f - alpha * A) / a0, -2.0f * cs / a0,
            (1.0f - alpha / A) / a0};
}

Coefficients highCutCoefficients(float sampleRate) {
    const float w0 = 113097.33f / sampleRate;
    const float s = std::sin(w0);
    const float c = std::cos(w0);
    const float alpha = s / 1.414f;
    const float a0 = 1.0f + alpha;
    return {(1.0f - c) * 0.5f / a0, (1.0f - c) / a0, (1.0f - c) * 0.5f / a0, -2.0f * c / a0,
            (1.0f - alpha) / a0};
}

// Direct Form I in place; the history lives in locals so the loop stays in registers.
void runBiquad(float* samples, uint32_t frames, const Coefficients& k, FilterState& state) noexcept {
    FilterState m = state;
    for (uint32_t i = 0; i < frames; ++i) samples[i] = biquadStep(k, m, samples[i]);
    state = m;
}

// Two independent recursions interleaved (channel slots 0 and 1), for instruction-level parallelism.
// Each channel sees exactly the arithmetic of runBiquad.
void runBiquadPair(float* left, float* right, uint32_t frames, const Coefficients& k, FilterState& leftState,
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

EQFilterBank::EQFilterBank() : filterStates_(bandSlots) {}

void EQFilterBank::reset() {
    std::lock_guard lock(filterStateLock_);
    filterStates_.assign(bandSlots, {});
    highCutStates_ = {};
}

void EQFilterBank::applyEQ(AudioBuffer& buffer, const EQSettings& settings, bool preserveState, bool applyHighCut,
                           float sampleRate) {
    if (!buffer.hasFloatData()) return;
    const uint32_t channels = buffer.channelCount();
    const uint32_t frames = buffer.frameLength();
    if (!preserveState) reset();

    std::lock_guard lock(filterStateLock_);
    if (channels == 0) return;
    const Coefficients highCut = highCutCoefficients(sampleRate);
    // Up to about 38 kHz the corner sits at or too near Nyquist; what little lies above it stays uncut.
    applyHighCut = applyHighCut && filterFitsRate(highCutHz, sampleRate);
    const size_t usableBands = std::min(settings.bands.size(), bandSlots);

    std::vector<bool> filtered(usableBands);
    std::vector<Coefficients> bandCoefficients(usableBands);
    for (size_t i = 0; i < usableBands; ++i) {
        filtered[i] = bandIsFiltered(settings.bands[i], sampleRate);
        if (filtered[i]) bandCoefficients[i] = peakingCoefficients(settings.bands[i], sampleRate);
    }

    // Channels 0 and 1 own separate state slots, so they run side by side; later channels share slot 1
    // and must follow one another in order.
    uint32_t next = 0;
    if (channels >= 2) {
        for (size_t i = 0; i < usableBands; ++i)
            if (filtered[i])
                runBiquadPair(buffer.channel(0), buffer.channel(1), frames, bandCoefficients[i],
                              filterStates_[i][0], filterStates_[i][1]);
        if (applyHighCut)
            runBiquadPair(buffer.channel(0), buffer.channel(1), frames, highCut, highCutStates_[0], highCutStates_[1]);
        next = 2;
    }
    for (uint32_t ch = next; ch < channels; ++ch) {
        const size_t slot = std::min<size_t>(ch, 1);
        for (size_t i = 0; i < usableBands; ++i)
            if (filtered[i])
                runBiquad(buffer.channel(ch), frames, bandCoefficients[i], filterStates_[i][slot]);
        if (applyHighCut) runBiquad(buffer.channel(ch), frames, highCut, highCutStates_[slot]);
    }
}

FilterState EQFilterBank::bandState(size_t band, size_t channelSlot) const {
    std::lock_guard lock(filterStateLock_);
    return filterStates_.at(band).at(channelSlot);
}

FilterState EQFilterBank::highCutState(size_t channelSlot) const {
    std::lock_guard lock(filterStateLock_);
    return highCutStates_.at(channelSlot);
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
