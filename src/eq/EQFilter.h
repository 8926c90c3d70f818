#pragma once

#include "eq/EQSettings.h"
#include "platform/AudioBuffer.h"

#include <array>
#include <mutex>
#include <optional>
#include <vector>

namespace orvanta {

// Direct-form-I memory of one biquad on one channel.
struct FilterState {
    float x1 = 0, x2 = 0; // previous inputs
    float y1 = 0, y2 = 0; // previous outputs
};

// True when a band has |gain| > 0.1 dB or |masterGain| > 0.01 dB.
bool hasActiveEQ(const EQSettings& settings) noexcept;
// True only with at least 12 bands and bands 10 and 11 both at or below −5 dB.
bool needsHighCut(const std::vector<EQBand>& bands) noexcept;
// Multiplies every valid sample by 10^(dB/20).
void applyGain(AudioBuffer& buffer, float gainDB) noexcept;

// Whether a filter centred (or cornered) at `frequencyHz` can run at `sampleRate`: below
// highestFilterFraction × the rate. At or past Nyquist the second-order designs put a pole outside
// the unit circle and the filter blows up; just under it they are cramped. A band or high cut that
// does not fit is left out, as the band has nothing of the signal to shape there. The 20 kHz band at
// 44.1 kHz (0.454 × the rate) still fits.
inline constexpr float highestFilterFraction = 0.475f;
bool filterFitsRate(float frequencyHz, float sampleRate) noexcept;

// The shared EQ filter history: 27 band slots × 2 channel slots, plus 2 high-cut slots, under one
// non-recursive lock. Channel c uses slot min(c, 1). Used by offline renders, playback and the
// vectorscope preview at the same time; no caller relies on isolation.
class EQFilterBank {
public:
    static constexpr size_t bandSlots = 27;
    static constexpr size_t channelSlots = 2;

    EQFilterBank();

    // Zeroes every state, under the lock.
    void reset();
    // Filters the buffer in place through settings.bands (not isEnabled, not masterGain) and, when
    // applyHighCut, the fixed 18 kHz low-pass. preserveState false resets the history first. Bands and
    // a high cut that do not fit the rate (filterFitsRate), and bands whose q or gain is not a positive
    // or finite number, are left out: every filter that runs is stable.
    void applyEQ(AudioBuffer& buffer, const EQSettings& settings, bool preserveState, bool applyHighCut,
                 float sampleRate);

    // Copies of the current state, for tests.
    FilterState bandState(size_t band, size_t channelSlot) const;
    FilterState highCutState(size_t channelSlot) const;

private:
    mutable std::mutex filterStateLock_;
    std::vector<std::array<FilterState, channelSlots>> filterStates_;
    std::array<FilterState, channelSlots> highCutStates_{};
};

// The calling pattern shared by renders, playback and the vectorscope: when settings are enabled and
// active, a filtered copy of `source` (bands, high cut from needsHighCut, then masterGain when
// |masterGain| > 0.01 dB); otherwise nothing, and the caller uses `source` unchanged.
std::optional<AudioBuffer> processWithEQ(EQFilterBank& bank, const AudioBuffer& source, const EQSettings& settings,
                                         bool preserveState);

} // namespace orvanta
