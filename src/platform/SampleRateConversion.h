#pragma once

#include <filesystem>
#include <functional>

namespace orvanta {

// Converts any readable audio file to `sampleRate` (Hz) with the SoX resampler (libsoxr through
// FFmpeg's libswresample, 28-bit precision: its passband is flat and its stopband below −160 dB) into
// a 32-bit float WAV at `output`: nothing is rounded and peaks above full scale survive, so what is
// mastered from it loses nothing to this step. The result has the input's channels and layout and
// round(length × sampleRate / input rate) frames, aligned with the input (the filter's delay is taken
// out). `isCancelled` (may be empty) is asked between blocks; a yes calls `onCancel` (which should
// throw). Writes a hidden name beside `output` and renames it when complete. Any thread. Throws the
// reader's and the writer's Error (domain "AudioFile"), unsupportedFormat when the resampler cannot be made.
void convertSampleRate(const std::filesystem::path& input, const std::filesystem::path& output, int sampleRate,
                       const std::function<bool()>& isCancelled = {}, const std::function<void()>& onCancel = {});

} // namespace orvanta
