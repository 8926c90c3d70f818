#include "platform/LossyEncoder.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/LibavLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace orvanta {

namespace {

// Where a rate the encoder does not list goes (AAC carries at most 96 kHz, MP3 48 kHz): the common
// rate of video and streaming, which every player takes.
constexpr int fallbackSampleRate = 48000;

// What differs between the codecs.
struct CodecSetup {
    const char* encoder;   // libavcodec's name
    const char* container; // libavformat's muxer
    int64_t bitRate;       // b/s
    int maximumChannels;
};

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

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

std::string avErrorText(int code) { return libavFailureText(code); }

// Owns every libav object of one encoding; the destructor releases whatever was made.
class LossyWriter {
public:
    LossyWriter(LossyCodec codec, const std::filesystem::path& input, const std::filesystem::path& partial,
                const std::filesystem::path& output, float gain)
        : codec_(codec), setup_(setupOf(codec)), input_(input), partial_(partial), output_(output), gain_(gain) {}

    ~LossyWriter() {
        if (container_ != nullptr) {
            if (container_->pb != nullptr) {
                avio_closep(&container_->pb);
            }
            avformat_free_context(container_);
        }
        avcodec_free_context(&encoder_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        swr_free(&resampler_);
        if (fifo_ != nullptr) {
            av_audio_fifo_free(fifo_);
        }
    }

    // The rate written, Hz: the input's, or fallbackSampleRate when the codec cannot carry it.
    int encodedSampleRate() const { return encodedRate_; }

    // Encodes `frames` frames from the reader's position (all that follow when negative).
    void encode(AudioFileReader& reader, int64_t frames) {
        const int inputRate = int(reader.sampleRate());
        if (double(inputRate) != reader.sampleRate()) {
            unsupported("a fractional sample rate");
        }
        const AVCodec* codec = avcodec_find_encoder_by_name(setup_.encoder);
        if (codec == nullptr) {
            fail(AudioFileErrorCode::cannotCreate, std::string("no ") + setup_.encoder + " encoder is available");
        }
        encodedRate_ = takesSampleRate(*codec, inputRate) ? inputRate : fallbackSampleRate;

        int rc = avformat_alloc_output_context2(&container_, nullptr, setup_.container,
                                                ("file:" + partial_.string()).c_str());
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
        encoder_->sample_rate = encodedRate_;
        encoder_->bit_rate = setup_.bitRate;
        encoder_->time_base = AVRational{1, encodedRate_};
        if ((container_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* codecOptions = nullptr;
        if (codec_ == LossyCodec::aac) {
            av_dict_set(&codecOptions, "aac_pns", "0", 0);
            av_dict_set(&codecOptions, "aac_is", "0", 0);
            av_dict_set(&codecOptions, "aac_tns", "0", 0);
        }
        rc = avcodec_open2(encoder_, codec, &codecOptions);
        av_dict_free(&codecOptions);
        if (rc < 0) {
            fail(AudioFileErrorCode::cannotCreate, std::string("the ") + setup_.encoder +
                                                       " encoder refused the format: " + avErrorText(rc));
        }
        if (encodedRate_ != inputRate) {
            openResampler(inputRate);
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
        if (codec_ == LossyCodec::aac) av_dict_set(&options, "movflags", "+faststart", 0);
        rc = avformat_write_header(container_, &options);
        av_dict_free(&options);
        if (rc < 0) {
            fail(AudioFileErrorCode::writeFailed, avErrorText(rc));
        }

        // The encoder takes frames of exactly frameSize_ samples (the last one may be shorter); a
        // resampler hands out any number, so samples gather in a FIFO between the two.
        frameSize_ = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, int(reader.channelCount()), 2 * frameSize_);
        if (fifo_ == nullptr) {
            throw std::bad_alloc();
        }
        AudioBuffer buffer = reader.makeBuffer(uint32_t(frameSize_));
        int64_t left = frames < 0 ? INT64_MAX : frames;
        while (left > 0) {
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
        throw audioFileError(code, "Could not encode " + quoted(input_) + " as " + std::string(codecName(codec_)) +
                                       " into " + quoted(output_) + ": " + reason);
    }
    [[noreturn]] void unsupported(const std::string& what) const {
        fail(AudioFileErrorCode::unsupportedFormat,
             std::string(codec_ == LossyCodec::aac ? "AAC" : "MP3") + " cannot carry " + what);
    }

    static bool takesSampleRate(const AVCodec& codec, int sampleRate) {
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

    void openResampler(int inputRate) {
        int rc = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, AV_SAMPLE_FMT_FLTP, encodedRate_,
                                     &encoder_->ch_layout, AV_SAMPLE_FMT_FLTP, inputRate, 0, nullptr);
        if (rc < 0 || (rc = swr_init(resampler_)) < 0) {
            fail(AudioFileErrorCode::cannotCreate, "cannot resample to " + std::to_string(encodedRate_) +
                                                       " Hz: " + avErrorText(rc));
        }
    }

    void applyGain(AudioBuffer& buffer, uint32_t frames) const {
        if (gain_ == 1.0f) {
            return;
        }
        for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
            float* samples = buffer.channel(c);
            for (uint32_t i = 0; i < frames; ++i) samples[i] *= gain_;
        }
    }

    // Adds `frames` input frames to the FIFO, resampled when the encoder runs at another rate.
    void push(AudioBuffer& buffer, uint32_t frames) {
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
    void resample(const uint8_t** input, int frames) {
        const int capacity = swr_get_out_samples(resampler_, frames);
        if (capacity < 0) {
            fail(AudioFileErrorCode::writeFailed, "resampling failed: " + avErrorText(capacity));
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
            fail(AudioFileErrorCode::writeFailed, "resampling failed: " + avErrorText(got));
        }
        write(output.data(), got);
    }

    void flushResampler() {
        if (resampler_ == nullptr) {
            return;
        }
        int before = -1;
        while (av_audio_fifo_size(fifo_) != before) {
            before = av_audio_fifo_size(fifo_);
            resample(nullptr, 0);
        }
    }

    void write(uint8_t** planes, int frames) {
        if (frames > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes), frames) < frames) {
            throw std::bad_alloc();
        }
    }

    void sendWholeFrames() {
        while (av_audio_fifo_size(fifo_) >= frameSize_) {
            sendFrame(frameSize_);
        }
    }

    // The default layout for the channel count, or else any layout the encoder has for that count.
    void chooseLayout(const AVCodec& codec, int channelCount) {
        if (channelCount > setup_.maximumChannels) {
            unsupported(std::to_string(channelCount) + " channels (at most " + std::to_string(setup_.maximumChannels) + ")");
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
            unsupported(std::to_string(channelCount) + " channels");
        }
        av_channel_layout_copy(&encoder_->ch_layout, sameCount);
    }

    // Takes `frames` frames from the FIFO and hands them to the encoder as one frame.
    void sendFrame(int frames) {
        av_frame_unref(frame_);
        frame_->nb_samples = frames;
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = encoder_->sample_rate;
        int rc = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (rc < 0 || (rc = av_frame_get_buffer(frame_, 0)) < 0) {
            throw std::bad_alloc();
        }
        if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->extended_data), frames) < frames) {
            fail(AudioFileErrorCode::writeFailed, "encoding failed: samples went missing between resampler and encoder");
        }
        frame_->pts = position_;
        position_ += frames;
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

    const LossyCodec codec_;
    const CodecSetup setup_;
    const std::filesystem::path& input_;
    const std::filesystem::path& partial_;
    const std::filesystem::path& output_;
    const float gain_; // linear
    AVFormatContext* container_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* resampler_ = nullptr;       // only when the encoder runs at another rate than the input
    AVAudioFifo* fifo_ = nullptr;           // samples waiting for a whole encoder frame
    std::vector<std::vector<float>> resampled_; // resampler output, one plane per channel
    int encodedRate_ = 0;                   // Hz
    int frameSize_ = 1024;                  // samples per encoder frame
    int64_t position_ = 0;                  // samples handed to the encoder, for the frames' time stamps
};

} // namespace

bool mp3CarriesSampleRate(double sampleRate) noexcept {
    constexpr std::array<int, 9> mp3Rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (const int rate : mp3Rates)
        if (double(rate) == sampleRate) return true;
    return false;
}

std::string_view codecName(LossyCodec codec) noexcept { return codec == LossyCodec::mp3 ? "MP3" : "M4A"; }

LossyEncoding encodeLossy(const std::filesystem::path& input, const std::filesystem::path& output, LossyCodec codec,
                          const LossyEncodingOptions& options) {
    routeLibavLogs();

    const std::string as = " as " + std::string(codecName(codec));
    AudioFileReader reader(input);
    if (isSameFile(input, output)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + as + ": the output is the input itself");
    }
    if (!std::isfinite(options.gainDb)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + as + ": the gain is not a number of dB");
    }
    if (options.firstFrame < 0 || options.firstFrame > reader.lengthFrames()) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode " + quoted(input) + as + ": the excerpt starts outside the file");
    }
    reader.setFramePosition(options.firstFrame);
    const std::filesystem::path partial = siblingTemporaryPath(output);
    LossyEncoding result;
    result.sourceSampleRate = reader.sampleRate();
    try {
        {
            LossyWriter writer(codec, input, partial, output, std::pow(10.0f, options.gainDb / 20.0f));
            writer.encode(reader, options.frameCount);
            result.sampleRate = writer.encodedSampleRate();
        } // closed before the rename
        moveFile(partial, output);
    } catch (const std::bad_alloc&) {
        removeFileQuietly(partial);
        throw audioFileError(AudioFileErrorCode::writeFailed,
                             "Could not encode " + quoted(input) + as + " into " + quoted(output) + ": out of memory");
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
    return result;
}

} // namespace orvanta
