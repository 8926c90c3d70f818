#pragma once

#include "engine/Bs1770Meter.h"

namespace orvanta {

// The meter settings of a loudness range as EBU Tech 3342 and libebur128 measure it: 3 s short-term
// blocks every second, up to the one that ends on the last frame; Bs1770Meter::loudnessRange() then
// gates them at −70 LUFS and 20 LU under their integrated level and spreads them from the 10th to the
// 95th percentile. Pure; any thread.
Bs1770Config loudnessRangeConfig();

} // namespace orvanta
