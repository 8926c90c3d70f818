#pragma once

#include "eq/EQSettings.h"
#include "eq/ReferenceSpectrum.h"

#include <vector>

namespace orvanta {

// Bands 0…9 (32 Hz … 12 kHz) take part in matching; 16 and 20 kHz always stay at 0 dB.
inline constexpr size_t matchedBandCount = 10;
// The most a band may boost or cut at full strength, dB.
inline constexpr float matchBandLimitDb = 6.0f;

// Whether a band's difference to a reference was measured: not when both levels sit at the same end
// of the 0…10 scale, whose clipping hides the difference.
bool bandDifferenceMeasured(float reference, float file) noexcept;

// The full correction towards a reference, dB per band: the difference in dB (7 per level unit)
// less its mean over the matched bands, so it changes the tone and not the overall level (the
// loudness target's job), each band limited to ±6 dB. Bands 10 and 11 are 0, and so is a band whose
// levels both sit at the same end of the 0…10 scale (its difference is hidden by the scale's clipping;
// it takes no part in the mean either).
BandLevels fullMatchCorrectionDb(const BandLevels& reference, const BandLevels& file);

// The default bands matched at `strengthPercent` (0…100). At the Gentle strength exactly the classic
// rule of matchReferenceEQ(reference, file); at any other strength strength/100 of the full
// correction. Any thread; no throw.
std::vector<EQBand> matchReferenceEQ(const BandLevels& reference, const BandLevels& file, float strengthPercent);
// Enabled settings with those bands, masterGain 0, isAutoReferenceMode true.
EQSettings matchedEQSettings(const BandLevels& reference, const BandLevels& file, float strengthPercent);

} // namespace orvanta
