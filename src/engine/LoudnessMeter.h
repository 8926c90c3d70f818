#pragma once

#include "engine/ProcessingTypes.h"

#include <filesystem>
#include <vector>

namespace orvanta {

// Measures a whole file: integrated loudness (K-weighted for the file's rate, gated, −0.5 dB
// calibration), sample peak, loud-passage RMS and true peak (4x oversampled, dBTP; clamped like the
// sample peak for silence), and whether the loudness was measurable at all (AudioStats::measurability;
// the figures are still returned). Reads in chunks, so memory does not grow with the file; the channels are
// measured on threads of their own. Reentrant; any thread. Throws the reader's errors, or Orvanta/4
// "Audio file is empty", or Orvanta/2 when the working buffers cannot be created.
AudioStats analyzeAudioFile(const std::filesystem::path& url);

// Direct-form-I biquad over `samples` with coefficients divided by a[0] (missing entries count as 0).
// Empty input gives empty output; empty a or b gives zeros.
std::vector<float> biquadFilter(const std::vector<float>& samples, const std::vector<float>& b,
                                const std::vector<float>& a);

} // namespace orvanta
