#include "platform/Mp3Encoding.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/LibavLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <array>
#include <cmath>
#include <new>
#include <string>

namespace orvanta {

namespace {

constexpr int64_t bitRate = 320000;
// MPEG-1, 2 and 2.5 layer III.
constexpr std::array<int, 9> mp3Rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// Owns the libav objects of one encoding.
class Mp3Writer {
public:
    Mp3Writer(const std::filesystem::path& input, const std::filesystem::path& partial,
              const std::filesystem::path& output, float gain)
        : input_(input), partial_(partial), output_(output), gain_(gain) {}

    ~Mp3Writer() {
        if (container_ != nullptr) {
            if (container_->pb != nullptr) avio_closep(&container_->pb);
            avformat_free_context(container_);
        }
        avcodec_free_context(&encoder_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
    }

    void encode(AudioFileReader& reader) {
        const int channels = int(reader.channelCount());
        if (channels > 2) fail(AudioFileErrorCode::unsupportedFormat, "MP3 carries at most 2 channels");
        if (!mp3CarriesSampleRate(reader.sampleRate())) {
            fail(AudioFileErrorCode::unsupportedFormat,
                 "MP3 carries 8 to 48 kHz, not " + std::to_string(reader.sampleRate()) + " Hz");
        }
        const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
        if (codec == nullptr) fail(AudioFileErrorCode::cannotCreate, "no MP3 (LAME) encoder is available");
        const int rate = int(reader.sampleRate());
        const std::string url = "file:" + partial_.string();
        int rc = avformat_alloc_output_context2(&container_, nullptr, "mp3", url.c_str());
        if (rc < 0 || container_ == nullptr) fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
        encoder_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (encoder_ == nullptr || packet_ == nullptr || frame_ == nullptr) throw std::bad_alloc();
        av_channel_layout_default(&encoder_->ch_layout, channels);
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = rate;
        encoder_->bit_rate = bitRate;
        encoder_->time_base = AVRational{1, rate};
        if ((rc = avcodec_open2(encoder_, codec, nullptr)) < 0)
            fail(AudioFileErrorCode::cannotCreate, "the MP3 encoder refused the format: " + libavFailureText(rc));

        stream_ = avformat_new_stream(container_, nullptr);
        if (stream_ == nullptr) throw std::bad_alloc();
        stream_->time_base = encoder_->time_base;
        // Carries the encoder's delay into the LAME header, which decoders use to trim it.
        if ((rc = avcodec_parameters_from_context(stream_->codecpar, encoder_)) < 0)
            fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
        if ((rc = avio_open(&container_->pb, url.c_str(), AVIO_FLAG_WRITE)) < 0)
            fail(AudioFileErrorCode::cannotCreate, libavFailureText(rc));
        if ((rc = avformat_write_header(container_, nullptr)) < 0)
            fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));

        // The encoder takes frames of exactly frame_size samples, the last one shorter.
        const int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : 1152;
        AudioBuffer buffer = reader.makeBuffer(uint32_t(frameSize));
        int filled = 0;
        while (true) {
            if (filled == 0) newFrame(frameSize);
            const uint32_t got = reader.read(buffer, uint32_t(frameSize - filled));
            for (int c = 0; c < channels; ++c) {
                float* plane = reinterpret_cast<float*>(frame_->extended_data[c]) + filled;
                const float* in = buffer.channel(uint32_t(c));
                for (uint32_t i = 0; i < got; ++i) plane[i] = in[i] * gain_;
            }
            filled += int(got);
            if (got == 0 || filled == frameSize) {
                if (filled > 0) {
                    frame_->nb_samples = filled;
                    frame_->pts = position_;
                    position_ += filled;
                    sendAndWrite(frame_);
                }
                if (got == 0) break;
                filled = 0;
            }
        }
        sendAndWrite(nullptr); // the encoder's delay
        // The trailer goes back to the first frame to fill in the Xing/LAME header.
        if ((rc = av_write_trailer(container_)) < 0) fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
        if ((rc = avio_closep(&container_->pb)) < 0) fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
    }

private:
    [[noreturn]] void fail(AudioFileErrorCode code, const std::string& reason) const {
        throw audioFileError(code, "Could not encode " + quoted(input_) + " as MP3 into " + quoted(output_) + ": " + reason);
    }

    void newFrame(int frameSize) {
        av_frame_unref(frame_);
        frame_->nb_samples = frameSize;
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = encoder_->sample_rate;
        int rc = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (rc < 0 || (rc = av_frame_get_buffer(frame_, 0)) < 0) throw std::bad_alloc();
    }

    void sendAndWrite(const AVFrame* frame) {
        int rc = avcodec_send_frame(encoder_, frame);
        if (rc < 0) fail(AudioFileErrorCode::writeFailed, "encoding failed: " + libavFailureText(rc));
        while ((rc = avcodec_receive_packet(encoder_, packet_)) >= 0) {
            av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            if ((rc = av_interleaved_write_frame(container_, packet_)) < 0)
                fail(AudioFileErrorCode::writeFailed, libavFailureText(rc));
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            fail(AudioFileErrorCode::writeFailed, "encoding failed: " + libavFailureText(rc));
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
    int64_t position_ = 0; // samples handed to the encoder, for the frames' time stamps
};

} // namespace

bool mp3CarriesSampleRate(double sampleRate) noexcept {
    for (const int rate : mp3Rates)
        if (double(rate) == sampleRate) return true;
    return false;
}

Mp3Encoding encodeMp3(const std::filesystem::path& input, const std::filesystem::path& output, float gainDb) {
    routeLibavLogs();
    AudioFileReader reader(input);
    if (isSameFile(input, output) || !std::isfinite(gainDb)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + " as MP3: " +
                                 (std::isfinite(gainDb) ? "the output is the input itself" : "the gain is not a number of dB"));
    }
    const std::filesystem::path partial = siblingTemporaryPath(output);
    try {
        {
            Mp3Writer writer(input, partial, output, std::pow(10.0f, gainDb / 20.0f));
            writer.encode(reader);
        } // closed before the rename
        moveFile(partial, output);
    } catch (const std::bad_alloc&) {
        removeFileQuietly(partial);
        throw audioFileError(AudioFileErrorCode::writeFailed,
                             "Could not encode " + quoted(input) + " as MP3 into " + quoted(output) + ": out of memory");
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
    return {reader.sampleRate(), int(reader.sampleRate())};
}

} // namespace orvanta
