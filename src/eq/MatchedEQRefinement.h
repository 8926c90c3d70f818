#pragma once

#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"
#include "eq/ReferenceSpectrum.h"

#include <filesystem>

namespace orvanta {

// One measured correction of a matched EQ. Neighbouring bands overlap, so a rendered curve overshoots
// or falls short of the intended gains. This renders channel 0 of `input` through `intended` with a
// filter state of its own, measures its 12-band levels as compute12BandSpectrum does, and moves the
// gains of bands 0…9 once so that each band's measured change (against `inputLevels`, the levels of
// `input`) comes to the intended gain, the overall level aside. The step solves the bands' overlap
// (their responses over the measuring windows) rather than moving each band by its own error alone.
// Bands the measurement cannot see (silent or saturated levels, beyond the spectrum) keep their gain;
// bands centred near or above Nyquist are set to 0 dB (a peaking filter there is unstable). Every
// gain stays within ±6 dB. Any thread. Throws the reader's errors, and cancellationError() when
// `isCancelled` answers true between chunks.
EQSettings refineMatchedEQ(const std::filesystem::path& input, const EQSettings& intended,
                           const BandLevels& inputLevels, const CancellationQuery& isCancelled);

// The EQ of a reference pass over `input` at `strengthPercent`: at the Gentle strength exactly the
// classic matched EQ, otherwise the matched EQ at that strength refined once by refineMatchedEQ.
// Any thread; throws as refineMatchedEQ.
EQSettings referenceMatchedEQ(const std::filesystem::path& input, const BandLevels& reference,
                              const BandLevels& inputLevels, float strengthPercent,
                              const CancellationQuery& isCancelled);

} // namespace orvanta
