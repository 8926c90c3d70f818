#pragma once

#include <vector>

namespace orvanta {

// Linear gain of the first pass from the input's loudness, its peak (dBFS) and the target.
float initialGain(float inputLUFS, float inputPeak, float targetLUFS) noexcept;
// Factor by which the gain is multiplied after a pass that measured `measuredLUFS`.
float correctionFactor(float measuredLUFS, float targetLUFS) noexcept;

// One measured pass: its gain (dB) and the loudness it produced (LUFS).
struct MeasuredPass {
    float gainDb = 0.0f;
    float lufs = 0.0f;
};

// Gain (linear) for the next pass, from the passes measured so far. Where nothing is limited the
// output follows the gain one to one. Above the gain where limiting starts, the chain takes loudness
// away, and the loss grows with the square of the excess gain: loss = a·(gain − onset)². Two limited
// passes fix a and the onset; with one, the onset is `onsetGainDb` (where the input's true peak meets
// the ceiling). The gain whose modelled loudness meets the target is chosen; where the model says the
// target lies beyond the chain's loudest clean result, the gain of that result, at most 12 dB past the
// passes made. With a single pass whose loss the prior onset cannot explain, the correction factor
// applies. A fixed correction cannot know how slowly loudness grows under heavy limiting; this lands
// within a few tenths of an LU in one or two steps. Pure.
float modelledGain(float inputLUFS, float onsetGainDb, const std::vector<MeasuredPass>& passes,
                   float targetLUFS) noexcept;
} // namespace orvanta
