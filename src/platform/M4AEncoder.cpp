#include "platform/M4AEncoder.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

namespace orvanta {

namespace {

constexpr int64_t bitRate = 256000;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

// Owns every libav object of one encoding; the destructor releases whatever was made.
class M4AWriter {
public:
    M4AWriter(const std::filesystem::path& input, const std::filesystem::path& partial,
              const std::filesystem::path& output, float gain)
        : input_(input), partial_(partial), output_(output), gain_(gain) {}

    ~M4AWriter() {
        if (container_ != nullptr) {
            if (container_->pb != nullptr) {
                avio_closep(&container_->pb);
            }
            avformat_free_context(container_);
        }
        avcodec_free_context(&encoder_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
    }

    void encode(AudioFileReader& reader) {
        const int sampleRate = int(reader.sampleRate());
        if (double(sampleRate) != reader.sampleRate()) {
            unsupported("a fractional sample rate");
        }
        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        if (codec == nullptr) {
            fail(AudioFileErrorCode::cannotCreate, "no AAC encoder is available");
        }
        checkSampleRate(*codec, sampleRate);

        int rc = avformat_alloc_output_context2(&container_, nullptr, "ipod", ("file:" + partial_.string()).c_str());
        if (rc < 0 || container_ == nullptr) {
            fail(AudioFileErrorCode::cannotCreate, avErrorText(rc));
        }
        encoder_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (encoder_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
            throw std::bad_alloc();
        }
        chooseLayout(*codec, int(reader.channelCount()));
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = sampleRate;
        encoder_->bit_rate = bitRate;
        encoder_->time_base = AVRational{1, sampleRate};
        if ((container_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if ((rc = avcodec_open2(encoder_, codec, nullptr)) < 0) {
            fail(AudioFileErrorCode::cannotCreate, "the AAC encoder refused the format: " + avErrorText(rc));
        }

        stream_ = avformat_new_stream(container_, nullptr);
        if (stream_ == nullptr) {
            throw std::bad_alloc();
        }
        stream_->time_base = encoder_->time_base;
        if ((rc = avcodec_parameters_from_context(stream_->codecpar, encoder_)) < 0) {
            fail(AudioFileErrorCode::cannotCreate, avErrorText(rc));
        }
        if ((rc = avio_open(&container_->pb, ("file:" + partial_.string()).c_str(), AVIO_FLAG_WRITE)) < 0) {
            fail(AudioFileErrorCode::cannotCreate, avErrorText(rc));
        }
        AVDictionary* options = nullptr;
        // The index goes before the audio so that players can start before the whole file arrives.
        av_dict_set(&options, "movflags", "+faststart", 0);
        rc = avformat_write_header(container_, &options);
        av_dict_free(&options);
        if (rc < 0) {
            fail(AudioFileErrorCode::writeFailed, avErrorText(rc));
        }

        const auto frameSize = uint32_t(encoder_->frame_size > 0 ? encoder_->frame_size : 1024);
        AudioBuffer buffer = reader.makeBuffer(frameSize);
        int64_t position = 0;
        while (const uint32_t got = reader.read(buffer, frameSize)) {
            sendFrame(buffer, got, position);
            position += got;
        }
        sendAndWrite(nullptr); // flush the encoder's delay
        if ((rc = av_write_trailer(container_)) < 0) {
            fail(AudioFileErrorCode::writeFailed, avErrorText(rc));
        }
        if ((rc = avio_closep(&container_->pb)) < 0) {
            fail(AudioFileErrorCode::writeFailed, avErrorText(rc));
        }
    }

private:
    [[noreturn]] void fail(AudioFileErrorCode code, const std::string& reason) const {
        throw audioFileError(code, "Could not encode " + quoted(input_) + " as M4A into " + quoted(output_) + ": " + reason);
    }
    [[noreturn]] void unsupported(const std::string& what) const {
        fail(AudioFileErrorCode::unsupportedFormat, "AAC cannot carry " + what);
    }

    void checkSampleRate(const AVCodec& codec, int sampleRate) const {
        if (codec.supported_samplerates == nullptr) {
            return;
        }
        for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
            if (*rate == sampleRate) {
                return;
            }
        }
        unsupported("a sample rate of " + std::to_string(sampleRate) + " Hz");
    }

    // The default layout for the channel count, or else any layout the encoder has for that count.
    void chooseLayout(const AVCodec& codec, int channelCount) {
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
            unsupported(std::to_string(channelCount) + " channels");
        }
        av_channel_layout_copy(&encoder_->ch_layout, sameCount);
    }

    void sendFrame(const AudioBuffer& buffer, uint32_t frames, int64_t position) {
        av_frame_unref(frame_);
        frame_->nb_samples = int(frames);
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = encoder_->sample_rate;
        int rc = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (rc < 0 || (rc = av_frame_get_buffer(frame_, 0)) < 0) {
            throw std::bad_alloc();
        }
        for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
            auto* const destination = reinterpret_cast<float*>(frame_->extended_data[c]);
            if (gain_ == 1.0f) {
                std::memcpy(destination, buffer.channel(c), size_t(frames) * sizeof(float));
            } else {
                const float* source = buffer.channel(c);
                for (uint32_t i = 0; i < frames; ++i) destination[i] = source[i] * gain_;
            }
        }
        frame_->pts = position;
        sendAndWrite(frame_);
    }

    void sendAndWrite(const AVFrame* frame) {
        int rc = avcodec_send_frame(encoder_, frame);
        if (rc < 0) {
            fail(AudioFileErrorCode::writeFailed, "encoding failed: " + avErrorText(rc));
        }
        while ((rc = avcodec_receive_packet(encoder_, packet_)) >= 0) {
            av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            rc = av_interleaved_write_frame(container_, packet_); // takes the packet's data
            if (rc < 0) {
                fail(AudioFileErrorCode::writeFailed, avErrorText(rc));
            }
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
            fail(AudioFileErrorCode::writeFailed, "encoding failed: " + avErrorText(rc));
        }
    }

    const std::filesystem::path& input_;
    const std::filesystem::path& partial_;
    const std::filesystem::path& output_;
    const float gain_; // linear
    AVFormatContext* container_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

} // namespace

void encodeM4A(const std::filesystem::path& input, const std::filesystem::path& output, float gainDb) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    AudioFileReader reader(input);
    if (isSameFile(input, output)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + " as M4A: the output is the input itself");
    }
    if (!std::isfinite(gainDb)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + " as M4A: the gain is not a number of dB");
    }
    const std::filesystem::path partial = siblingTemporaryPath(output);
    try {
        {
            M4AWriter writer(input, partial, output, std::pow(10.0f, gainDb / 20.0f));
            writer.encode(reader);
        } // closed before the rename
        moveFile(partial, output);
    } catch (const std::bad_alloc&) {
        removeFileQuietly(partial);
        throw audioFileError(AudioFileErrorCode::writeFailed,
                             "Could not encode " + quoted(input) + " as M4A into " + quoted(output) + ": out of memory");
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
}

} // namespace orvanta
