#pragma once

#include "eq/EQSettings.h"
#include "eq/TonalBalance.h"

#include <vector>

namespace orvanta {

// The correction toward a reference, dB per balance band: the reference's balance less the song's,
// levels aligned (mean removed over the bands where both have content), smoothed over an octave
// (weights 1/4, 1/2, 1/4 over the neighbouring third octaves that have content) and scaled by
// `strengthPercent` / 100. NaN where either has no content. Pure; any thread.
std::vector<float> balanceCorrectionDb(const TonalBalance& reference, const TonalBalance& song, float strengthPercent);

// The 12 default bands whose gains best give `correctionDb` (balanceCorrectionDb) at `sampleRate`: a
// least-squares fit of the bands' own responses in dB (the filter routine's peaking formula and q),
// smoothed over the balance bands as the correction is, the overall level left free. The rules of a
// usable curve are constraints of the fit, not penalties: every gain within ±6 dB, adjacent gains
// (the flat 16 kHz band included) at most 4 dB apart, the gains' mean 0, and where the fit would
// turn three successive steps of over 1.5 dB in alternating signs, the middle one held to 1.5 dB.
// A light penalty on neighbour differences breaks ties. Bands 16 and 20 kHz stay at 0 dB, and so does
// a band that does not fit the rate. With fewer than two bands of content every gain is 0. Pure; any
// thread.
std::vector<EQBand> fitMatchedBands(const std::vector<float>& correctionDb, double sampleRate);

// Enabled settings with the fitted bands toward `reference` at `strengthPercent`, masterGain 0,
// isAutoReferenceMode true.
EQSettings balanceMatchedEQ(const TonalBalance& reference, const TonalBalance& song, float strengthPercent,
                            double sampleRate);

// The largest difference between adjacent gains of `bands`, dB, and whether three successive steps
// of over 1.5 dB alternate in sign.
double largestGainStepDb(const std::vector<EQBand>& bands);
bool hasGainZigZag(const std::vector<EQBand>& bands);

} // namespace orvanta
