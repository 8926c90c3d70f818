#pragma once

#include <filesystem>

namespace orvanta {

// What an MP3 encoding wrote.
struct Mp3Encoding {
    double sourceSampleRate = 0.0; // the input's rate, Hz
    int sampleRate = 0;            // the rate encoded, Hz (always the input's)
};

// Encodes any readable mono or stereo file as MP3 with LAME (FFmpeg's libmp3lame), 320 kb/s constant
// bit rate, the input's rate, with a Xing/LAME header that records the encoder's delay and padding, so
// that decoders which honour it (FFmpeg, mpg123) give back exactly the input's length (gapless).
// Writes a temporary name beside `output` and renames it over `output` only when complete. Any
// thread. Throws Error (domain "AudioFile": cannotOpen for an unreadable input, unsupportedFormat for
// more than 2 channels or a rate MP3 does not carry (it carries 8 to 48 kHz), cannotCreate or
// writeFailed for the output) naming the files; nothing is left behind on failure.
// `gainDb` (finite) scales the samples before encoding, in float and without clipping.
Mp3Encoding encodeMp3(const std::filesystem::path& input, const std::filesystem::path& output, float gainDb = 0.0f);

// True when MP3 carries `sampleRate` (Hz).
bool mp3CarriesSampleRate(double sampleRate) noexcept;

} // namespace orvanta
