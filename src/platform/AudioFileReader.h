#pragma once

#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace orvanta {

class AudioReaderBackend;

// Opens an audio file for reading in its processing format (non-interleaved float, the file's rate).
// WAV/AIFF/FLAC/Ogg/MP3 go through libsndfile; anything libsndfile refuses (M4A/AAC, ALAC, ...)
// is decoded with FFmpeg. Lengths are exact and seeking is frame-accurate for every backend: the
// length is what decodes, never only what a header claims, so a cut or lying file is as long as the
// audio it holds (endedEarly() tells). Samples that are not finite (NaN, ±inf in float files) or
// beyond maxSampleMagnitude are refused when read: they are damage or data that is not audio, and
// any gain chosen from them would be nonsense.
// One reader belongs to one thread at a time; separate readers of the same file are independent.
class AudioFileReader {
public:
    // Throws Error (domain "AudioFile", code cannotOpen or unsupportedFormat) naming the file. Only
    // regular files (or links to them) are opened: a folder, a named pipe, a socket or a device is
    // refused before any decoder touches it, so a pipe nobody writes to never blocks the caller.
    // At most 32 channels.
    explicit AudioFileReader(const std::filesystem::path& path);
    ~AudioFileReader();
    AudioFileReader(AudioFileReader&&) noexcept;
    AudioFileReader& operator=(AudioFileReader&&) noexcept;

    const std::filesystem::path& path() const noexcept { return path_; }
    const AudioFormat& processingFormat() const noexcept { return format_; }
    double sampleRate() const noexcept { return format_.sampleRate; }
    uint32_t channelCount() const noexcept { return format_.channelCount; }
    // Length in frames that decode; at most 0xFFFFFFFF (longer files are refused at open).
    int64_t lengthFrames() const noexcept { return length_; }
    // The length the file's header claims; -1 when it claims none. May exceed lengthFrames() by far.
    int64_t declaredLengthFrames() const noexcept { return declared_; }
    // True when the file ends well before its header's claim (more than 0.1 s and 1 % of it short):
    // it was cut, or its header lies. Small differences are a header's estimate, not damage.
    bool endedEarly() const noexcept;

    // Largest |sample| a read accepts: +60 dBFS. Float files may go above full scale, never this far.
    static constexpr float maxSampleMagnitude = 1000.0f;

    int64_t framePosition() const noexcept { return position_; }
    // Any position from 0 to lengthFrames(); reads at the end return 0 frames.
    void setFramePosition(int64_t frame);

    // Reads up to `frames` frames (at most the buffer's capacity) from the current position into the
    // start of `buffer`, sets its frame length to the number read and advances the position.
    // The buffer must have this file's channel count. Throws Error (code readFailed) on a read error,
    // Error (code invalidSamples) for samples that are not finite or beyond maxSampleMagnitude.
    uint32_t read(AudioBuffer& buffer, uint32_t frames);
    // The same into channels[c][0 …), one pointer per channel of the file; returns the frames read.
    uint32_t read(float* const* channels, uint32_t frames);
    // True when reading from any position costs no more than from the start and gives the same
    // samples as reading up to it would (PCM and FLAC files), so that parts may be read side by side.
    bool readsAnywhere() const noexcept;
    // The whole song, checked as read() checks it, when it is held in memory for the run
    // (DecodedInput.h); else nullptr. A caller that only reads may take the samples from there
    // instead of copying them out with read().
    const AudioBuffer* samplesInMemory() const noexcept;

    // A zeroed buffer in the processing format; throws std::bad_alloc when memory is short.
    AudioBuffer makeBuffer(uint32_t frameCapacity) const { return AudioBuffer(format_, frameCapacity); }

private:
    std::filesystem::path path_;
    std::unique_ptr<AudioReaderBackend> backend_;
    AudioFormat format_;
    int64_t length_ = 0;
    int64_t declared_ = -1;
    int64_t position_ = 0;
};

// True when the file opens as audio (any backend).
bool isReadableAudioFile(const std::filesystem::path& path);

} // namespace orvanta
