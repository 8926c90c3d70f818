#include "platform/AudioReaderBackend.h"
#include "platform/ChannelLayout.h"
#include "platform/Error.h"
#include "platform/LibavLog.h"
#include "platform/UnnamedTemporaryFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <list>
#include <mutex>
#include <new>
#include <system_error>
#include <tuple>
#include <vector>

namespace orvanta {

namespace {

// The whole stream, decoded once: compressed formats cannot seek to an exact frame cheaply (AAC
// frames overlap), and the engine opens the same file many times per run. The samples go to a scratch
// file, not to memory: fifteen minutes of stereo are 350 MB of floats, which the page cache holds as
// long as memory allows and gives back when it does not.
struct DecodedAudio {
    AudioFormat format;
    UnnamedTemporaryFile samples; // interleaved float frames of format.channelCount samples
    int64_t frames = 0;           // playable frames; the scratch file may hold a few more
    int64_t declaredFrames = -1;  // the length the container states; -1 when it states none

    size_t bytes() const { return size_t(samples.size()); }
};

using DecodedPtr = std::shared_ptr<const DecodedAudio>;

// ---------------------------------------------------------------------------------------------
// Process-wide cache of decoded files, keyed by what changes when the file is rewritten. Its budget is
// scratch space on disk; the files go with their last reader. It stays process-wide on purpose: every
// reader of a compressed file (meter, passes, tempo, analyzer, player) opens it by path, and a decode
// is the same samples whoever asked, so no reader can see whether it was shared.

struct CacheKey {
    std::string path; // canonical
    uintmax_t size = 0;
    int64_t modified = 0; // file_time ticks

    bool operator==(const CacheKey&) const = default;
};

class DecodedCache {
public:
    static DecodedCache& instance() {
        static DecodedCache cache;
        return cache;
    }

    DecodedPtr find(const CacheKey& key) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == key) {
                entries_.splice(entries_.begin(), entries_, it); // most recently used first
                return entries_.front().second;
            }
        }
        return nullptr;
    }

    void insert(const CacheKey& key, const DecodedPtr& audio) {
        const size_t bytes = audio->bytes();
        if (bytes > capacityBytes) {
            return; // too big to keep; the caller still holds it
        }
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end();) {
            // An older version of the same file is never asked for again.
            if (it->first.path == key.path) {
                used_ -= it->second->bytes();
                it = entries_.erase(it);
            } else {
                ++it;
            }
        }
        while (!entries_.empty() && used_ + bytes > capacityBytes) {
            used_ -= entries_.back().second->bytes();
            entries_.pop_back();
        }
        entries_.emplace_front(key, audio);
        used_ += bytes;
    }

private:
    static constexpr size_t capacityBytes = size_t(1) << 30; // 1 GiB of scratch files

    std::mutex mutex_;
    std::list<std::pair<CacheKey, DecodedPtr>> entries_;
    size_t used_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Decoding.

struct FormatContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecContextCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameCloser {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

template <typename Sample>
float toFloat(Sample value);
template <>
float toFloat(uint8_t value) { return float(int(value) - 128) / 128.0f; }
template <>
float toFloat(int16_t value) { return float(value) / 32768.0f; }
template <>
float toFloat(int32_t value) { return float(double(value) / 2147483648.0); }
template <>
float toFloat(float value) { return value; }
template <>
float toFloat(double value) { return float(value); }

// Appends the frame's samples to `interleaved`, frame after frame.
template <typename Sample>
void appendSamples(const AVFrame& frame, bool planar, size_t channelCount, std::vector<float>& interleaved) {
    const size_t count = size_t(frame.nb_samples);
    const size_t start = interleaved.size();
    interleaved.resize(start + count * channelCount);
    float* out = interleaved.data() + start;
    for (size_t c = 0; c < channelCount; ++c) {
        if (planar) {
            const auto* in = reinterpret_cast<const Sample*>(frame.extended_data[c]);
            for (size_t i = 0; i < count; ++i) {
                out[i * channelCount + c] = toFloat(in[i]);
            }
        } else {
            const auto* in = reinterpret_cast<const Sample*>(frame.extended_data[0]) + c;
            for (size_t i = 0; i < count; ++i) {
                out[i * channelCount + c] = toFloat(in[i * channelCount]);
            }
        }
    }
}

// False when the frame's sample format is not one we convert.
bool appendFrame(const AVFrame& frame, size_t channelCount, std::vector<float>& interleaved) {
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: appendSamples<uint8_t>(frame, planar, channelCount, interleaved); return true;
    case AV_SAMPLE_FMT_S16: appendSamples<int16_t>(frame, planar, channelCount, interleaved); return true;
    case AV_SAMPLE_FMT_S32: appendSamples<int32_t>(frame, planar, channelCount, interleaved); return true;
    case AV_SAMPLE_FMT_FLT: appendSamples<float>(frame, planar, channelCount, interleaved); return true;
    case AV_SAMPLE_FMT_DBL: appendSamples<double>(frame, planar, channelCount, interleaved); return true;
    default: return false;
    }
}

class Decoder {
public:
    // Returns nullptr with `reason` set when the file holds no decodable audio.
    DecodedPtr decode(const std::filesystem::path& path, std::string& reason) {
        AVDictionary* options = nullptr;
        // Local files only: a playlist or concat file must not make us open other files or URLs.
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        AVFormatContext* rawFormat = nullptr;
        const std::string url = "file:" + path.string();
        int rc = avformat_open_input(&rawFormat, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) {
            reason = libavFailureText(rc);
            return nullptr;
        }
        format_.reset(rawFormat);
        if ((rc = avformat_find_stream_info(format_.get(), nullptr)) < 0) {
            reason = libavFailureText(rc);
            return nullptr;
        }
        const AVCodec* codec = nullptr;
        const int streamIndex = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (streamIndex < 0 || codec == nullptr) {
            reason = streamIndex == AVERROR_DECODER_NOT_FOUND ? "no decoder for its audio" : "no audio stream";
            return nullptr;
        }
        AVStream* stream = format_->streams[streamIndex];
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            if (int(i) != streamIndex) {
                format_->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_) {
            throw std::bad_alloc();
        }
        if ((rc = avcodec_parameters_to_context(codec_.get(), stream->codecpar)) < 0 ||
            (rc = avcodec_open2(codec_.get(), codec, nullptr)) < 0) {
            reason = libavFailureText(rc);
            return nullptr;
        }
        codec_->pkt_timebase = stream->time_base;

        auto audio = std::make_shared<DecodedAudio>();
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!packet_ || !frame_) {
            throw std::bad_alloc();
        }

        // A damaged packet is skipped; whatever decodes is delivered.
        bool formatKnown = false;
        bool formatChanged = false;
        while (!formatChanged && av_read_frame(format_.get(), packet_.get()) >= 0) {
            if (packet_->stream_index == streamIndex) {
                if (firstPts_ == AV_NOPTS_VALUE) {
                    firstPts_ = packet_->pts;
                }
                avcodec_send_packet(codec_.get(), packet_.get());
                formatChanged = !receiveFrames(*audio, formatKnown);
            }
            av_packet_unref(packet_.get());
        }
        if (!formatChanged) {
            avcodec_send_packet(codec_.get(), nullptr); // drain
            receiveFrames(*audio, formatKnown);
        }
        flushPending(*audio);

        if (!formatKnown || audio->format.channelCount == 0) {
            reason = unsupportedSampleFormat_ ? "unsupported sample format" : "no audio could be decoded";
            return nullptr;
        }
        audio->frames = int64_t(audio->samples.size() / (sizeof(float) * audio->format.channelCount));
        audio->declaredFrames = statedFrames(*stream, audio->format.sampleRate);
        trimToPlayableLength(path, *stream, *audio);
        return audio;
    }

private:
    // Receives every frame the decoder has ready. Returns false when the stream changes its rate or
    // channel count midway: the part before the change is what we deliver.
    bool receiveFrames(DecodedAudio& audio, bool& formatKnown) {
        while (avcodec_receive_frame(codec_.get(), frame_.get()) >= 0) {
            const int channelCount = frame_->ch_layout.nb_channels;
            const int sampleRate = frame_->sample_rate;
            if (!formatKnown) {
                if (channelCount <= 0 || sampleRate <= 0) {
                    av_frame_unref(frame_.get());
                    continue;
                }
                // The decoder's speaker positions carry over to the master, as a WAV file's mask does.
                const AVChannelLayout& layout = frame_->ch_layout;
                const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
                audio.format = {double(sampleRate), uint32_t(channelCount),
                                maskDescribesChannels(mask, uint32_t(channelCount)) ? mask : 0};
                formatKnown = true;
            } else if (uint32_t(channelCount) != audio.format.channelCount || double(sampleRate) != audio.format.sampleRate) {
                av_frame_unref(frame_.get());
                return false;
            }
            if (!appendFrame(*frame_, audio.format.channelCount, pending_)) {
                unsupportedSampleFormat_ = true;
                av_frame_unref(frame_.get());
                return false;
            }
            av_frame_unref(frame_.get());
            if (pending_.size() >= pendingFlushSamples) flushPending(audio);
        }
        return true;
    }

    // Writes the decoded samples gathered so far to the scratch file.
    void flushPending(DecodedAudio& audio) {
        audio.samples.append(pending_.data(), pending_.size() * sizeof(float));
        pending_.clear();
    }

    // The container's edit list gives the playable length; the decoder already drops the priming
    // at the start, and this drops the padding of the last frame. MPEG-4 files state the edit's
    // length in the movie's coarse time scale (usually milliseconds), so there the exact length is
    // the track's own duration less the priming, when that agrees with the edit within its rounding.
    void trimToPlayableLength(const std::filesystem::path& path, const AVStream& stream, DecodedAudio& audio) const {
        if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0) {
            return;
        }
        const AVRational frameBase{1, int(audio.format.sampleRate)};
        int64_t playable = av_rescale_q(stream.duration, stream.time_base, frameBase);
        const std::string demuxer = format_->iformat->name;
        if (demuxer.find("mp4") != std::string::npos || demuxer.find("mov") != std::string::npos) {
            const int64_t priming = firstPts_ != AV_NOPTS_VALUE && firstPts_ < 0
                                        ? av_rescale_q(-firstPts_, stream.time_base, frameBase)
                                        : 0;
            const int64_t track = trackDurationIgnoringEdits(path, stream.index, frameBase);
            const int64_t exact = track - priming;
            const int64_t rounding = int64_t(audio.format.sampleRate / 500.0) + 2; // 2 ms
            if (track > 0 && exact > 0 && std::abs(exact - playable) <= rounding) {
                playable = exact;
            }
        }
        if (playable > 0 && playable < audio.frames) {
            audio.frames = playable;
        }
    }

    // The stream's length as its container states it, in frames; -1 where it states none, or where
    // FFmpeg only guessed it from the file's size and bit rate (that guess shrinks with a cut file).
    int64_t statedFrames(const AVStream& stream, double sampleRate) const {
        if (format_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return -1;
        if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0) return -1;
        return av_rescale_q(stream.duration, stream.time_base, AVRational{1, int(sampleRate)});
    }

    // The track's full duration (priming included) from the header alone, or 0 when unknown.
    static int64_t trackDurationIgnoringEdits(const std::filesystem::path& path, int streamIndex, AVRational frameBase) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "ignore_editlist", "1", 0);
        AVFormatContext* raw = nullptr;
        const std::string url = "file:" + path.string();
        const int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) {
            return 0;
        }
        std::unique_ptr<AVFormatContext, FormatContextCloser> context(raw);
        if (streamIndex >= int(context->nb_streams)) {
            return 0;
        }
        const AVStream& stream = *context->streams[streamIndex];
        if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0) {
            return 0;
        }
        return av_rescale_q(stream.duration, stream.time_base, frameBase);
    }

    std::unique_ptr<AVFormatContext, FormatContextCloser> format_;
    std::unique_ptr<AVCodecContext, CodecContextCloser> codec_;
    std::unique_ptr<AVPacket, PacketCloser> packet_;
    std::unique_ptr<AVFrame, FrameCloser> frame_;
    static constexpr size_t pendingFlushSamples = size_t(1) << 16; // written to the scratch file at a time
    std::vector<float> pending_; // decoded interleaved samples not yet written
    bool unsupportedSampleFormat_ = false;
    int64_t firstPts_ = AV_NOPTS_VALUE; // of the audio stream's first packet, in its time base
};

// ---------------------------------------------------------------------------------------------

class FfmpegBackend final : public AudioReaderBackend {
public:
    explicit FfmpegBackend(DecodedPtr audio) : audio_(std::move(audio)) {}

    AudioFormat format() const override { return audio_->format; }
    int64_t lengthFrames() const override { return audio_->frames; }
    int64_t declaredFrames() const override { return audio_->declaredFrames; }

    uint32_t read(int64_t startFrame, float* const* channels, uint32_t frames) override {
        if (startFrame < 0 || startFrame >= audio_->frames) {
            return 0;
        }
        const auto count = uint32_t(std::min<int64_t>(frames, audio_->frames - startFrame));
        const size_t channelCount = audio_->format.channelCount;
        const size_t frameBytes = channelCount * sizeof(float);
        interleaved_.resize(size_t(std::min(count, scratchFrames)) * channelCount);
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min(count - done, scratchFrames);
            const size_t bytes = size_t(n) * frameBytes;
            if (audio_->samples.readAt(interleaved_.data(), bytes, uint64_t(startFrame + done) * frameBytes) != bytes) {
                throw audioFileError(AudioFileErrorCode::readFailed, "The decoded audio ended early");
            }
            for (size_t c = 0; c < channelCount; ++c) {
                float* out = channels[c] + done;
                for (uint32_t i = 0; i < n; ++i) out[i] = interleaved_[i * channelCount + c];
            }
            done += n;
        }
        return count;
    }

private:
    static constexpr uint32_t scratchFrames = 1u << 14; // frames fetched from the scratch file at a time

    DecodedPtr audio_;
    std::vector<float> interleaved_; // one fetch of frames, before they are split into channels
};

} // namespace

std::unique_ptr<AudioReaderBackend> openFfmpegBackend(const std::filesystem::path& path, std::string& reason) {
    routeLibavLogs();
    std::error_code ec;
    CacheKey key;
    key.path = std::filesystem::canonical(path, ec).string();
    const bool cacheable = !ec;
    if (cacheable) {
        key.size = std::filesystem::file_size(path, ec);
        const auto modified = std::filesystem::last_write_time(path, ec);
        key.modified = int64_t(modified.time_since_epoch().count());
    }
    if (cacheable && !ec) {
        if (DecodedPtr cached = DecodedCache::instance().find(key)) {
            return std::make_unique<FfmpegBackend>(std::move(cached));
        }
    }
    DecodedPtr audio;
    try {
        Decoder decoder;
        audio = decoder.decode(path, reason);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to decode it";
        return nullptr;
    } catch (const Error& error) {
        reason = "cannot decode it: " + error.description();
        return nullptr;
    }
    if (!audio) {
        return nullptr;
    }
    if (cacheable && !ec) {
        DecodedCache::instance().insert(key, audio);
    }
    return std::make_unique<FfmpegBackend>(std::move(audio));
}

} // namespace orvanta
