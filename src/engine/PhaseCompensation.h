#pragma once

#include "engine/ProcessingTypes.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvanta {

// The limiter's crossovers sum to an all-pass: they keep every frequency's level but turn its phase,
// which moves the parts of a waveform against each other and can raise its peaks by several dB (a
// clipped or saturated mix most of all). Running the same all-pass backwards in time over the input
// first cancels that turn: the chain as a whole then has zero phase, an idle master equals its input
// sample for sample, and the true-peak limiter sees the song's own peaks.
//
// Writes `input` through the crossovers' all-passes (`crossovers`, Hz, as the limiter designs them at
// the file's rate) run from the last sample to the first, into a 32-bit float WAV at `output` that
// holds the result back to front: first the input's last sample, and at the end `leadingFrames()`
// more frames, the part of the response that comes before the song starts. Reads in blocks; memory
// is bounded by one block. Any thread. Throws the reader's and writer's errors, or Orvanta/100 when
// `isCancelled` answers yes between blocks; a failed or cancelled run removes `output`.
struct TimeReversedSource {
    std::filesystem::path path;
    int64_t frames = 0;        // the input's frames plus the leading ones
    uint32_t leadingFrames = 0;
};
TimeReversedSource writePhaseCompensatedSource(const std::filesystem::path& input, const std::filesystem::path& output,
                                               const std::vector<float>& crossovers,
                                               const CancellationQuery& isCancelled = {});

// The frames of response kept before the first sample: 0.1 s, by which the slowest all-pass (the lowest
// crossover's, whose ringing decays with a time constant of about 2 ms) has died away below −200 dB.
uint32_t phaseCompensationLeadingFrames(double sampleRate) noexcept;

} // namespace orvanta
