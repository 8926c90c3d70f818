#pragma once

#include "platform/AudioBuffer.h"
#include "platform/TpdfDither.h"

#include <filesystem>
#include <memory>
#include <vector>

struct sf_private_tag;

namespace orvanta {

// Lossless file containers the writer makes.
enum class AudioContainer { wav, flac };

// Writes linear PCM WAV, little-endian, interleaved on disk, or FLAC, from non-interleaved float buffers.
// Data that may pass RIFF's 4 GiB (judged from the expected length) is written as RF64. A format with
// its own channel layout (a mask other than plain mono or stereo) is written as WAVE_FORMAT_EXTENSIBLE
// with that mask (a FLAC keeps its channel count's standard layout); RF64 of more than two channels
// without a layout carries the mask 0, never one made up.
// Integer samples beyond full scale are clipped (never wrapped); non-finite samples are written as 0.
// 16-bit files are the one place where samples lose resolution: they get TPDF dither (TpdfDither.h)
// with a fixed seed, so the same samples always make the same file. 24-bit samples read from a
// 24-bit file are written back unchanged.
// The file is complete only after close() returns; a writer destroyed without close() leaves
// whatever was written so far. One writer belongs to one thread at a time.
class AudioFileWriter {
public:
    // Samples kept as 32-bit floats, unclipped: for intermediate files whose peaks may pass full scale.
    static constexpr int floatSamples = 0;

    // Creates (or truncates) the file. bitDepth is 16, 24 or 32 (integer PCM) or floatSamples; a
    // FLAC takes 16 or 24. `expectedFrames` is the length the file will have, when known (negative:
    // unknown, kept small). `dither` shapes the noise of a 16-bit file. Throws Error (domain
    // "AudioFile", code cannotCreate) naming the file, unsupportedFormat for a FLAC it cannot carry.
    AudioFileWriter(const std::filesystem::path& path, AudioFormat format, int bitDepth = 24,
                    int64_t expectedFrames = -1, AudioContainer container = AudioContainer::wav,
                    DitherShape dither = DitherShape::flat);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    const AudioFormat& format() const noexcept { return format_; }

    // Appends the buffer's frameLength frames. The buffer must have the writer's channel count.
    // Throws Error (code writeFailed).
    void write(const AudioBuffer& buffer);
    // Appends `frames` frames given as one pointer per channel.
    void write(const float* const* channels, uint32_t frames);
    // Finishes the header and closes the file. Throws Error (code writeFailed). Idempotent.
    void close();

private:
    std::filesystem::path path_;
    AudioFormat format_;
    sf_private_tag* file_ = nullptr;
    bool clearMaskAtClose_ = false; // RF64 whose default mask names positions the input never had
    std::vector<float> interleaved_;
    std::unique_ptr<TpdfDither> dither_; // 16-bit files only
    std::vector<int16_t> quantized_;     // their interleaved samples
};

} // namespace orvanta
