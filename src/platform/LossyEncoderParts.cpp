#include "platform/LossyEncoderParts.h"

#include "platform/Error.h"
#include "platform/LibavLog.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <climits>
#include <new>

namespace orvanta::lossy {

namespace {

// Where a rate the encoder does not list goes (AAC carries at most 96 kHz, MP3 48 kHz): the common
// rate of video and streaming, which every player takes.
constexpr int fallbackSampleRate = 48000;

// Frames between two checkpoints of an encoding: about 1.5 s at 44.1 kHz.
constexpr int framesPerCheckpoint = 64;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

bool takesSampleRate(const AVCodec& codec, int sampleRate) {
    if (codec.supported_samplerates == nullptr) {
        return true;
    }
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == sampleRate) {
            return true;
        }
    }
    return false;
}

} // namespace

CodecSetup setupOf(LossyCodec codec) {
    switch (codec) {
    case LossyCodec::mp3:
        // MPEG-1 Layer III carries mono or stereo only.
        return {"libmp3lame", "mp3", 320000, 2};
    case LossyCodec::aac:
    default:
        // The MPEG-4 channel configurations end at 7.1; the encoder lists no layouts of its own.
        return {"aac", "ipod", 256000, 8};
    }
}

void Failure::fail(AudioFileErrorCode code, const std::string& reason) const {
    throw audioFileError(code, "Could not encode " + quoted(input) + " as " + std::string(codecName(codec)) +
                                   " into " + quoted(output) + ": " + reason);
}

void Failure::unsupported(const std::string& what) const {
    fail(AudioFileErrorCode::unsupportedFormat,
         std::string(codec == LossyCodec::aac ? "AAC" : "MP3") + " cannot carry " + what);
}

FrameEncoder::FrameEncoder(const Failure& failure, float gain)
    : failure_(failure), setup_(setupOf(failure.codec)), gain_(gain) {}

FrameEncoder::FrameEncoder(const Failure& failure, int inputRate, int channelCount, float gain)
    : FrameEncoder(failure, gain) {
    const AVCodec* codec = avcodec_find_encoder_by_name(setup_.encoder);
    if (codec == nullptr) {
        failure_.fail(AudioFileErrorCode::cannotCreate, std::string("no ") + setup_.encoder + " encoder is available");
    }
    const AVOutputFormat* container = av_guess_format(setup_.container, nullptr, nullptr);
    if (container == nullptr) {
        failure_.fail(AudioFileErrorCode::cannotCreate, std::string("no ") + setup_.container + " muxer is available");
    }
    encodedRate_ = takesSampleRate(*codec, inputRate) ? inputRate : fallbackSampleRate;
    encoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (encoder_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
        throw std::bad_alloc();
    }
    chooseLayout(*codec, channelCount);
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = encodedRate_;
    encoder_->bit_rate = setup_.bitRate;
    encoder_->time_base = AVRational{1, encodedRate_};
    if ((container->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* codecOptions = nullptr;
    if (failure_.codec == LossyCodec::aac) {
        av_dict_set(&codecOptions, "aac_pns", "0", 0);
        av_dict_set(&codecOptions, "aac_is", "0", 0);
        av_dict_set(&codecOptions, "aac_tns", "0", 0);
    }
    const int rc = avcodec_open2(encoder_, codec, &codecOptions);
    av_dict_free(&codecOptions);
    if (rc < 0) {
        failure_.fail(AudioFileErrorCode::cannotCreate,
                      std::string("the ") + setup_.encoder + " encoder refused the format: " + libavFailureText(rc));
    }
    if (encodedRate_ != inputRate) {
        openResampler(inputRate);
    }
    // The encoder takes frames of exactly frameSize_ samples (the last one may be shorter); a
    // resampler hands out any number, so samples gather in a FIFO between the two.
    frameSize_ = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channelCount, 2 * frameSize_);
    if (fifo_ == nullptr) {
        throw std::bad_alloc();
    }
}

FrameEncoder::~FrameEncoder() {
    avcodec_free_context(&encoder_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    swr_free(&resampler_);
    if (fifo_ != nullptr) {
        av_audio_fifo_free(fifo_);
    }
}

void FrameEncoder::encode(AudioFileReader& reader, int64_t frames, int64_t firstPts, const PacketSink& sink,
                          const std::function<void()>& checkpoint) {
    sink_ = &sink;
    position_ = firstPts;
    AudioBuffer buffer = reader.makeBuffer(uint32_t(frameSize_));
    int64_t left = frames < 0 ? INT64_MAX : frames;
    for (int count = 1; left > 0; ++count) {
        if (checkpoint && count % framesPerCheckpoint == 0) checkpoint();
        const uint32_t got = reader.read(buffer, uint32_t(std::min<int64_t>(frameSize_, left)));
        if (got == 0) break;
        left -= got;
        applyGain(buffer, got);
        push(buffer, got);
        sendWholeFrames();
    }
    flushResampler();
    sendWholeFrames();
    if (av_audio_fifo_size(fifo_) > 0) {
        sendFrame(av_audio_fifo_size(fifo_));
    }
    send(nullptr); // flush the encoder's delay
    sink_ = nullptr;
}

void FrameEncoder::openResampler(int inputRate) {
    int rc = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, AV_SAMPLE_FMT_FLTP, encodedRate_,
                                 &encoder_->ch_layout, AV_SAMPLE_FMT_FLTP, inputRate, 0, nullptr);
    if (rc < 0 || (rc = swr_init(resampler_)) < 0) {
        failure_.fail(AudioFileErrorCode::cannotCreate, "cannot resample to " + std::to_string(encodedRate_) +
                                                            " Hz: " + libavFailureText(rc));
    }
}

void FrameEncoder::applyGain(AudioBuffer& buffer, uint32_t frames) const {
    if (gain_ == 1.0f) {
        return;
    }
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
        float* samples = buffer.channel(c);
        for (uint32_t i = 0; i < frames; ++i) samples[i] *= gain_;
    }
}

// Adds `frames` input frames to the FIFO, resampled when the encoder runs at another rate.
void FrameEncoder::push(AudioBuffer& buffer, uint32_t frames) {
    std::vector<uint8_t*> planes(buffer.channelCount());
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
        planes[c] = reinterpret_cast<uint8_t*>(buffer.channel(c));
    }
    if (resampler_ == nullptr) {
        write(planes.data(), int(frames));
    } else {
        resample(const_cast<const uint8_t**>(planes.data()), int(frames));
    }
}

// Resamples `frames` frames (none: drains the resampler's delay line) into the FIFO.
void FrameEncoder::resample(const uint8_t** input, int frames) {
    const int capacity = swr_get_out_samples(resampler_, frames);
    if (capacity < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, "resampling failed: " + libavFailureText(capacity));
    }
    const size_t channels = size_t(encoder_->ch_layout.nb_channels);
    resampled_.resize(channels);
    std::vector<uint8_t*> output(channels);
    for (size_t c = 0; c < channels; ++c) {
        resampled_[c].resize(size_t(capacity) + 1);
        output[c] = reinterpret_cast<uint8_t*>(resampled_[c].data());
    }
    const int got = swr_convert(resampler_, output.data(), capacity + 1, input, frames);
    if (got < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, "resampling failed: " + libavFailureText(got));
    }
    write(output.data(), got);
}

void FrameEncoder::flushResampler() {
    if (resampler_ == nullptr) {
        return;
    }
    int before = -1;
    while (av_audio_fifo_size(fifo_) != before) {
        before = av_audio_fifo_size(fifo_);
        resample(nullptr, 0);
    }
}

void FrameEncoder::write(uint8_t** planes, int frames) {
    if (frames > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes), frames) < frames) {
        throw std::bad_alloc();
    }
}

void FrameEncoder::sendWholeFrames() {
    while (av_audio_fifo_size(fifo_) >= frameSize_) {
        sendFrame(frameSize_);
    }
}

// The default layout for the channel count, or else any layout the encoder has for that count.
void FrameEncoder::chooseLayout(const AVCodec& codec, int channelCount) {
    if (channelCount > setup_.maximumChannels) {
        failure_.unsupported(std::to_string(channelCount) + " channels (at most " +
                             std::to_string(setup_.maximumChannels) + ")");
    }
    AVChannelLayout wanted{};
    av_channel_layout_default(&wanted, channelCount);
    if (codec.ch_layouts == nullptr) {
        encoder_->ch_layout = wanted;
        return;
    }
    const AVChannelLayout* sameCount = nullptr;
    for (const AVChannelLayout* layout = codec.ch_layouts; layout->nb_channels != 0; ++layout) {
        if (av_channel_layout_compare(layout, &wanted) == 0) {
            encoder_->ch_layout = wanted;
            return;
        }
        if (sameCount == nullptr && layout->nb_channels == channelCount) {
            sameCount = layout;
        }
    }
    if (sameCount == nullptr) {
        failure_.unsupported(std::to_string(channelCount) + " channels");
    }
    av_channel_layout_copy(&encoder_->ch_layout, sameCount);
}

// Takes `frames` frames from the FIFO and hands them to the encoder as one frame.
void FrameEncoder::sendFrame(int frames) {
    av_frame_unref(frame_);
    frame_->nb_samples = frames;
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = encoder_->sample_rate;
    int rc = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
    if (rc < 0 || (rc = av_frame_get_buffer(frame_, 0)) < 0) {
        throw std::bad_alloc();
    }
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->extended_data), frames) < frames) {
        failure_.fail(AudioFileErrorCode::writeFailed,
                      "encoding failed: samples went missing between resampler and encoder");
    }
    frame_->pts = position_;
    position_ += frames;
    send(frame_);
}

void FrameEncoder::send(const AVFrame* frame) {
    int rc = avcodec_send_frame(encoder_, frame);
    if (rc < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, "encoding failed: " + libavFailureText(rc));
    }
    while ((rc = avcodec_receive_packet(encoder_, packet_)) >= 0) {
        (*sink_)(*packet_);
        av_packet_unref(packet_);
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
        failure_.fail(AudioFileErrorCode::writeFailed, "encoding failed: " + libavFailureText(rc));
    }
}

PacketMuxer::PacketMuxer(const Failure& failure) : failure_(failure) {}

PacketMuxer::PacketMuxer(const Failure& failure, const std::filesystem::path& partial, const AVCodecContext& encoder)
    : PacketMuxer(failure) {
    const CodecSetup setup = setupOf(failure.codec);
    const std::string url = "file:" + partial.string();
    int rc = avformat_alloc_output_context2(&container_, nullptr, setup.container, url.c_str());
    if (rc < 0 || container_ == nullptr) {
        failure_.fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
    }
    stream_ = avformat_new_stream(container_, nullptr);
    if (stream_ == nullptr) {
        throw std::bad_alloc();
    }
    stream_->time_base = encoder.time_base;
    if ((rc = avcodec_parameters_from_context(stream_->codecpar, &encoder)) < 0) {
        failure_.fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
    }
    if ((rc = avio_open(&container_->pb, url.c_str(), AVIO_FLAG_WRITE)) < 0) {
        failure_.fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
    }
    AVDictionary* options = nullptr;
    // The index goes before the audio so that players can start before the whole file arrives.
    if (failure.codec == LossyCodec::aac) av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(container_, &options);
    av_dict_free(&options);
    if (rc < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
    }
}

PacketMuxer::~PacketMuxer() {
    if (container_ != nullptr) {
        if (container_->pb != nullptr) {
            avio_closep(&container_->pb);
        }
        avformat_free_context(container_);
    }
}

void PacketMuxer::write(AVPacket& packet, AVRational timeBase) {
    av_packet_rescale_ts(&packet, timeBase, stream_->time_base);
    packet.stream_index = stream_->index;
    const int rc = av_interleaved_write_frame(container_, &packet); // takes the packet's data
    if (rc < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
    }
}

void PacketMuxer::finish() {
    int rc = av_write_trailer(container_);
    if (rc < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
    }
    if ((rc = avio_closep(&container_->pb)) < 0) {
        failure_.fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
    }
}

} // namespace orvanta::lossy
