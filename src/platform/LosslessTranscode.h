#pragma once

#include "platform/AudioFileWriter.h"

#include <filesystem>
#include <functional>

namespace orvanta {

// The file a lossless transcode makes: container and word length (16, 24, or floatSamples).
struct LosslessTarget {
    AudioContainer container = AudioContainer::wav;
    int bitDepth = 24;
    DitherShape dither = DitherShape::flat; // for 16 bits
};

// Decodes any readable audio file and writes it as `target` at `output`, same rate, channels and
// length. A 24-bit source written at 24 bits (WAV or FLAC) keeps every sample bit for bit; 16 bits
// are dithered once, here, by the writer. Writes a hidden name beside `output` and renames it over
// `output` when complete, so `output` is the old file or the whole new one; nothing is left behind on
// failure. `isCancelled` (may be empty) is asked between blocks; a yes stops with `onCancel()`'s
// exception. Any thread. Throws the reader's and the writer's Error (domain "AudioFile").
void transcodeLossless(const std::filesystem::path& input, const std::filesystem::path& output,
                       const LosslessTarget& target, const std::function<bool()>& isCancelled = {},
                       const std::function<void()>& onCancel = {});

} // namespace orvanta
