#pragma once

// Internal to the platform layer: one decoder behind AudioFileReader.

#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace orvanta {

class AudioReaderBackend {
public:
    virtual ~AudioReaderBackend() = default;
    virtual AudioFormat format() const = 0;
    // Frames that decode: the exact length, whatever the header claims.
    virtual int64_t lengthFrames() const = 0;
    // Frames the file's header states; -1 when it states none or nonsense (a cut Ogg stream).
    virtual int64_t declaredFrames() const = 0;
    // Reads up to `frames` frames starting at `startFrame` into channels[c][0..), returns the number read.
    // Throws Error (domain "AudioFile", code readFailed) on failure.
    virtual uint32_t read(int64_t startFrame, float* const* channels, uint32_t frames) = 0;
    // True when every sample read has passed the reader's magnitude check already (samples held in
    // memory after a checked decode), so that it need not scan them again.
    virtual bool samplesChecked() const { return false; }
    // True when a read may start at any frame, cheaply, with the samples a read from the start
    // would give there (PCM, FLAC): the file can then be read in parts side by side.
    virtual bool readsAnywhere() const { return false; }
    // Every sample of the file, when the backend holds them in memory; else nullptr.
    virtual const AudioBuffer* samplesInMemory() const { return nullptr; }
};

// Each returns nullptr and sets `reason` when the backend cannot open the file.
std::unique_ptr<AudioReaderBackend> openSndfileBackend(const std::filesystem::path& path, std::string& reason);
std::unique_ptr<AudioReaderBackend> openFfmpegBackend(const std::filesystem::path& path, std::string& reason);

} // namespace orvanta
