#pragma once

#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"
#include "eq/ReferenceSpectrum.h"

#include <array>
#include <filesystem>

namespace orvanta {

// One measured correction of a matched EQ. Neighbouring bands overlap, so a rendered curve overshoots
// or falls short of the intended gains. This renders channel 0 of `input` through `intended` with a
// filter state of its own, measures its 12 bands before and after as compute12BandSpectrum does (in
// dB, unsaturated), and moves the gains of bands 0…9 once so that each band's measured change comes to
// the intended gain, the overall level aside. The step solves the bands' overlap
// (their responses over the measuring windows) rather than moving each band by its own error alone.
// Only bands marked in `steered` move (a band whose intended gain stands for an unmeasured difference
// keeps it), and only where the measurement can see them (above the level floor, within the spectrum);
// bands centred near or above Nyquist are set to 0 dB (a peaking filter there is unstable). Every
// gain stays within ±6 dB. Any thread. Throws the reader's errors, and cancellationError() when
// `isCancelled` answers true between chunks.
using BandMask = std::array<bool, 12>;
inline constexpr BandMask everyBand = {true, true, true, true, true, true, true, true, true, true, true, true};
EQSettings refineMatchedEQ(const std::filesystem::path& input, const EQSettings& intended, const BandMask& steered,
                           const CancellationQuery& isCancelled);

// The EQ of a reference pass over `input` at `strengthPercent`: at the Gentle strength exactly the
// classic matched EQ, otherwise the matched EQ at that strength, from the song's levels read without
// the scale's saturation, refined once by refineMatchedEQ.
// Any thread; throws as refineMatchedEQ.
EQSettings referenceMatchedEQ(const std::filesystem::path& input, const BandLevels& reference,
                              const BandLevels& inputLevels, float strengthPercent,
                              const CancellationQuery& isCancelled);

} // namespace orvanta
