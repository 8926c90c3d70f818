#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orvanta {

// What a file holds, as a listener reads it off a file's card: rate, channels, length and the stored
// sample resolution.
struct AudioFileFacts {
    double sampleRate = 0;            // Hz
    uint32_t channelCount = 0;
    int64_t lengthFrames = 0;
    std::optional<int> bitDepth;      // stored bits per sample; none for lossy codecs
    bool floatingPoint = false;       // the stored samples are floats
    int64_t declaredLengthFrames = -1; // what the header claims; -1 when it claims none
    bool endedEarly = false;          // the file ends well before that claim (AudioFileReader::endedEarly)
};

// Opens the file as AudioFileReader does (same refusals, same errors) and reads its stored format.
// Any thread. Throws orvanta::Error when the file cannot be opened as audio.
AudioFileFacts readAudioFileFacts(const std::filesystem::path& path);

// For a file that ended early, what the user should know: "truncated: 0.8 s of 8.0 s decoded", or
// "truncated: 7.1 s decoded" when the claim is no length at all (a cut Ogg stream claims an endless
// one). Nothing for a whole file. Pure.
std::optional<std::string> truncationNote(const AudioFileFacts& facts);

} // namespace orvanta
