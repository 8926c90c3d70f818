#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace orvanta {

// What a file holds, as a listener reads it off a file's card: rate, channels, length and the stored
// sample resolution.
struct AudioFileFacts {
    double sampleRate = 0;            // Hz
    uint32_t channelCount = 0;
    int64_t lengthFrames = 0;
    std::optional<int> bitDepth;      // stored bits per sample; none for lossy codecs
    bool floatingPoint = false;       // the stored samples are floats
};

// Opens the file as AudioFileReader does (same refusals, same errors) and reads its stored format.
// Any thread. Throws orvanta::Error when the file cannot be opened as audio.
AudioFileFacts readAudioFileFacts(const std::filesystem::path& path);

} // namespace orvanta
