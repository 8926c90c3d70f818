#pragma once

#include "eq/EQSettings.h"
#include "platform/AudioBuffer.h"
#include "platform/Biquad.h"

#include <array>
#include <optional>
#include <vector>

namespace orvanta {

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

// One stream's EQ filter history: for every channel, a state per band slot and one for the high cut.
// Each render, the player and the vectorscope own one, so no stream disturbs another's history; they
// share only the settings value. Sized for a channel count on construction or by prepare(); applyEQ
// never allocates for a buffer of that count. One thread at a time.
class EQFilterBank {
public:
    static constexpr size_t bandSlots = 27;

    explicit EQFilterBank(uint32_t channelCount = 2) { prepare(channelCount); }

    // Sizes the history for `channelCount` channels, all zeroed.
    void prepare(uint32_t channelCount);
    // Zeroes every state.
    void reset() noexcept;
    // Filters the buffer in place through settings.bands (not isEnabled, not masterGain) and, when
    // applyHighCut, the fixed 18 kHz low-pass. preserveState false resets the history first. Every
    // channel continues its own history; a buffer with another channel count than the history's
    // starts a new one of that count. Bands and a high cut that do not fit the rate (filterFitsRate),
    // and bands whose q or gain is not a positive or finite number, are left out: every filter that
    // runs is stable.
    void applyEQ(AudioBuffer& buffer, const EQSettings& settings, bool preserveState, bool applyHighCut,
                 float sampleRate);

    uint32_t channelCount() const noexcept { return uint32_t(channels_.size()); }
    // Copies of the current state, for tests.
    FilterState bandState(size_t band, uint32_t channel) const { return channels_.at(channel).bands.at(band); }

private:
    struct ChannelHistory {
        std::array<FilterState, bandSlots> bands{};
        FilterState highCut;
    };
    std::vector<ChannelHistory> channels_;
};

// The calling pattern shared by renders, playback and the vectorscope: when settings are enabled and
// active, a filtered copy of `source` (bands, high cut from needsHighCut, then masterGain when
// |masterGain| > 0.01 dB); otherwise nothing, and the caller uses `source` unchanged.
std::optional<AudioBuffer> processWithEQ(EQFilterBank& bank, const AudioBuffer& source, const EQSettings& settings,
                                         bool preserveState);

} // namespace orvanta
