#pragma once

// Compressed files that lie about their length, made by the tests themselves: encoded with the
// ffmpeg program from a WAV, then cut short or given a header that claims more than they hold.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvanta::test {

// Encodes `wav` into `output` with ffmpeg and the given codec arguments (e.g. {"-c:a", "flac"});
// true on success.
bool encodeWithFfmpeg(const std::filesystem::path& wav, const std::filesystem::path& output,
                      const std::vector<std::string>& codecArguments);

// Keeps the first `keptFraction` of the file's bytes, as a download cut short does.
void keepLeadingBytes(const std::filesystem::path& file, double keptFraction);

// Rewrites the total sample count of a FLAC file's stream info (its 36-bit field).
void claimFlacFrames(const std::filesystem::path& flac, uint64_t frames);

// Rewrites the frame count of an MP3 file's Xing or Info header (MPEG frames of 1152 samples);
// false when the file has no such header.
bool claimMp3Frames(const std::filesystem::path& mp3, uint32_t mpegFrames);

} // namespace orvanta::test
