#pragma once

#include <filesystem>

namespace orvanta {

// Encodes any readable audio file as AAC (FFmpeg's native encoder, 256 kb/s, the input's sample rate
// and channel count) in an MPEG-4 audio container laid out for streaming (index first) at `output`.
// Writes a temporary name beside `output` and renames it over `output` only when complete, so
// `output` is never a partial file. Any thread. Throws Error (domain "AudioFile": cannotOpen for an
// unreadable input, unsupportedFormat for a rate or channel count AAC cannot carry, cannotCreate or
// writeFailed for the output) naming the files; nothing is left behind on failure.
// `gainDb` (finite) scales the samples before encoding, in float and without clipping, so a level
// lowered to make room for the codec's overshoot costs no resolution.
void encodeM4A(const std::filesystem::path& input, const std::filesystem::path& output, float gainDb = 0.0f);

} // namespace orvanta
