#pragma once

// The pieces of a lossy encoding that the serial and the parallel AAC encodings share: the encoder
// with the FIFO (and resampler) in front of it, and the muxer behind it. Internal to LossyEncoder.

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/LossyEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orvanta::lossy {

// What differs between the codecs.
struct CodecSetup {
    const char* encoder;   // libavcodec's name
    const char* container; // libavformat's muxer
    int64_t bitRate;       // b/s
    int maximumChannels;
};
CodecSetup setupOf(LossyCodec codec);

// Raises the encoding's errors, naming its files.
struct Failure {
    LossyCodec codec;
    const std::filesystem::path& input;
    const std::filesystem::path& output;
    [[noreturn]] void fail(AudioFileErrorCode code, const std::string& reason) const;
    [[noreturn]] void unsupported(const std::string& what) const;
};

// Takes each packet the encoder hands out (its data may be moved away), time stamps in the encoder's
// time base.
using PacketSink = std::function<void(AVPacket&)>;

// One libav encoder for the input's channels, scaled by `gain` (linear); frames of the encoder's size
// gather in a FIFO, behind a resampler when the codec cannot take the input's rate.
class FrameEncoder {
public:
    FrameEncoder(const Failure& failure, int inputRate, int channelCount, float gain);
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    const AVCodecContext& context() const { return *encoder_; }
    int encodedSampleRate() const { return encodedRate_; }
    bool resamples() const { return resampler_ != nullptr; }
    int frameSize() const { return frameSize_; }

    // Encodes `frames` frames from the reader's position (all that follow when negative), the first
    // stamped `firstPts`, then drains the encoder; `checkpoint` runs every few frames and may throw.
    void encode(AudioFileReader& reader, int64_t frames, int64_t firstPts, const PacketSink& sink,
                const std::function<void()>& checkpoint);

private:
    // Opens nothing. The public constructor delegates here first: once this one has returned, a later
    // step that throws runs the destructor, which frees what the set-up had allocated.
    FrameEncoder(const Failure& failure, float gain);

    void chooseLayout(const AVCodec& codec, int channelCount);
    void openResampler(int inputRate);
    void applyGain(AudioBuffer& buffer, uint32_t frames) const;
    void push(AudioBuffer& buffer, uint32_t frames);
    void resample(const uint8_t** input, int frames);
    void flushResampler();
    void write(uint8_t** planes, int frames);
    void sendWholeFrames();
    void sendFrame(int frames);
    void send(const AVFrame* frame);

    const Failure& failure_;
    const CodecSetup setup_;
    const float gain_;
    AVCodecContext* encoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* resampler_ = nullptr;           // only when the encoder runs at another rate than the input
    AVAudioFifo* fifo_ = nullptr;               // samples waiting for a whole encoder frame
    std::vector<std::vector<float>> resampled_; // resampler output, one plane per channel
    const PacketSink* sink_ = nullptr;          // during encode
    int encodedRate_ = 0;                       // Hz
    int frameSize_ = 1024;                      // samples per encoder frame
    int64_t position_ = 0;                      // time stamp of the next frame handed to the encoder
};

// The container at `partial`: one audio stream with the encoder's parameters, header written on creation.
class PacketMuxer {
public:
    PacketMuxer(const Failure& failure, const std::filesystem::path& partial, const AVCodecContext& encoder);
    ~PacketMuxer();
    PacketMuxer(const PacketMuxer&) = delete;
    PacketMuxer& operator=(const PacketMuxer&) = delete;

    // Writes the packet (taking its data), stamped in `timeBase`.
    void write(AVPacket& packet, AVRational timeBase);
    // Writes the index and closes the file.
    void finish();

private:
    // Opens nothing; delegated to first for the same reason as FrameEncoder's.
    explicit PacketMuxer(const Failure& failure);

    const Failure& failure_;
    AVFormatContext* container_ = nullptr;
    AVStream* stream_ = nullptr;
};

} // namespace orvanta::lossy
