#pragma once

#include "engine/ProcessingTypes.h"

#include <filesystem>
#include <vector>

namespace orvanta {

// Measures integrated loudness (K-weighted, gated, −0.5 dB calibration), sample peak and loud-passage
// RMS on the middle 120 s of a file. Reentrant; any thread. Throws the reader's errors, or
// Orvanta/4 "Audio file is empty", or Orvanta/2 when the excerpt buffer cannot be created.
AudioStats analyzeAudioFile(const std::filesystem::path& url);

// Direct-form-I biquad over `samples` with coefficients divided by a[0] (missing entries count as 0).
// Empty input gives empty output; empty a or b gives zeros.
std::vector<float> biquadFilter(const std::vector<float>& samples, const std::vector<float>& b,
                                const std::vector<float>& a);

} // namespace orvanta
