#pragma once

namespace orvanta {

// Linear gain of the first pass from the input's loudness, its peak (dBFS) and the target.
float initialGain(float inputLUFS, float inputPeak, float targetLUFS) noexcept;
// Factor by which the gain is multiplied after a pass that measured `measuredLUFS`.
float correctionFactor(float measuredLUFS, float targetLUFS) noexcept;

} // namespace orvanta
