#pragma once

#include <filesystem>

namespace orvanta {

// What an encoding wrote.
struct M4AEncoding {
    double sourceSampleRate = 0.0; // the input's rate, Hz
    int sampleRate = 0;            // the rate encoded, Hz: the input's, or 48000 where AAC cannot carry it
};

// Encodes any readable audio file as AAC (FFmpeg's native encoder, 256 kb/s, the input's sample rate
// and channel count) in an MPEG-4 audio container laid out for streaming (index first) at `output`.
// AAC carries at most 96 kHz: a rate the encoder does not take (176.4 or 192 kHz, an unusual rate)
// is resampled to 48 kHz, which the result reports.
// Writes a temporary name beside `output` and renames it over `output` only when complete, so
// `output` is never a partial file. Any thread. Throws Error (domain "AudioFile": cannotOpen for an
// unreadable input, unsupportedFormat for a channel count AAC cannot carry (more than 8) or a
// fractional rate, cannotCreate or writeFailed for the output) naming the files; nothing is left
// behind on failure.
// `gainDb` (finite) scales the samples before encoding, in float and without clipping, so a level
// lowered to make room for the codec's overshoot costs no resolution.
M4AEncoding encodeM4A(const std::filesystem::path& input, const std::filesystem::path& output, float gainDb = 0.0f);

} // namespace orvanta
