#pragma once

#include "engine/ProcessingTypes.h"

#include <filesystem>

namespace orvanta {

// Streams `input` through `gain` and the tempo-adapted 4-band limiter into a 24-bit WAV at `output`
// (an existing file there is replaced). Blocks of 1 s (2 s on machines with more than 8 GB), the
// cancellation query asked before every block, progress at most once per 1 %. Unreadable stretches
// become silence. Throws the platform's errors, Orvanta/2, or Orvanta/100 on cancellation; the
// partial output is left in place on failure.
void renderLimiterPass(const std::filesystem::path& input, const std::filesystem::path& output, float gain,
                       int bpm, float targetLUFS, float limitThreshold, const ProgressCallback& progress,
                       const CancellationQuery& isCancelled);

// The limiter threshold used for a pass: 10^(limitThreshold/20) × (0.97 below −13 LUFS, else 0.99).
float limiterThresholdFor(float targetLUFS, float limitThreshold) noexcept;

} // namespace orvanta
