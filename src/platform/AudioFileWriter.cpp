#include "platform/AudioFileWriter.h"

#include "platform/ChannelLayout.h"
#include "platform/Error.h"
#include "platform/SndfileChannelMap.h"
#include "platform/WaveChannelMask.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace orvanta {

namespace {

int pcmSubtype(int bitDepth) {
    switch (bitDepth) {
    case 16: return SF_FORMAT_PCM_16;
    case 32: return SF_FORMAT_PCM_32;
    case AudioFileWriter::floatSamples: return SF_FORMAT_FLOAT;
    default: return SF_FORMAT_PCM_24;
    }
}

int bytesPerSample(int bitDepth) {
    switch (bitDepth) {
    case 16: return 2;
    case 32:
    case AudioFileWriter::floatSamples: return 4;
    default: return 3;
    }
}

// RIFF counts its sizes in 32 bits: data that may pass them (with room for the header's chunks) goes
// into RF64, whose 64-bit sizes every current reader knows. Smaller files stay plain WAV for older ones.
bool needsRf64(const AudioFormat& format, int bitDepth, int64_t expectedFrames) {
    constexpr uint64_t riffDataLimit = 0xFFFFFFFFull - (1u << 20);
    return expectedFrames > 0 &&
           uint64_t(expectedFrames) * format.channelCount * uint64_t(bytesPerSample(bitDepth)) > riffDataLimit;
}

// A layout worth writing down: one that a reader could not assume from the channel count alone (a
// mono or stereo file without a mask is read as centre, or as left and right, anyway).
bool hasOwnLayout(const AudioFormat& format) {
    if (!maskDescribesChannels(format.channelMask, format.channelCount)) return false;
    if (format.channelCount == 1) return format.channelMask != speaker::frontCentre;
    if (format.channelCount == 2) return format.channelMask != (speaker::frontLeft | speaker::frontRight);
    return true;
}

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// libsndfile's text for a failed call, without its decoration: a system error arrives as
// "System error : No space left on device." and is shown as the system's own words.
std::string sndfileReason(SNDFILE* file) {
    std::string reason = sf_strerror(file);
    constexpr std::string_view systemPrefix = "System error : ";
    if (reason.rfind(systemPrefix, 0) == 0) reason.erase(0, systemPrefix.size());
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    return reason;
}

// FLAC's own limits (RFC 9639): integer samples of at most 24 bits here, 8 channels, rates to 655350 Hz.
void checkFlacCarries(const std::filesystem::path& path, const AudioFormat& format, int bitDepth) {
    std::string problem;
    if (bitDepth != 16 && bitDepth != 24) problem = "FLAC holds 16- or 24-bit samples here";
    else if (format.channelCount > 8) problem = "FLAC holds at most 8 channels";
    else if (format.sampleRate > 655350.0) problem = "FLAC holds rates up to 655350 Hz";
    if (!problem.empty())
        throw audioFileError(AudioFileErrorCode::unsupportedFormat, "Cannot create " + quoted(path) + ": " + problem);
}

} // namespace

AudioFileWriter::AudioFileWriter(const std::filesystem::path& path, AudioFormat format, int bitDepth,
                                 int64_t expectedFrames, AudioContainer container, DitherShape dither)
    : path_(path), format_(format) {
    if (format.channelCount == 0 || !(format.sampleRate >= 1.0) || format.sampleRate > 2147483647.0) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Cannot create " + quoted(path) + ": invalid channel count or sample rate");
    }
    const bool flac = container == AudioContainer::flac;
    if (flac) checkFlacCarries(path, format, bitDepth);
    SF_INFO info{};
    info.samplerate = int(std::lround(format.sampleRate));
    info.channels = int(format.channelCount);
    const bool layout = !flac && hasOwnLayout(format);
    const int kind = flac                                           ? SF_FORMAT_FLAC
                     : needsRf64(format, bitDepth, expectedFrames) ? SF_FORMAT_RF64
                     : layout                                      ? SF_FORMAT_WAVEX
                                                                   : SF_FORMAT_WAV;
    info.format = kind | pcmSubtype(bitDepth) | (flac ? 0 : SF_ENDIAN_FILE);
    // RF64 is always WAVE_FORMAT_EXTENSIBLE, and libsndfile gives a file without a map the usual
    // mask for its channel count (5.1 for six channels, and so on): a reader would then weigh an input's
    // unnamed channels as centre and LFE. Such a file gets the mask 0 ("no positions") at close.
    clearMaskAtClose_ = kind == SF_FORMAT_RF64 && !layout && format.channelCount > 2;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Cannot create " + quoted(path) + ": " + sndfileReason(nullptr));
    }
    // Before the first write, which writes the header: WAVE_FORMAT_EXTENSIBLE with the input's mask.
    if (layout) {
        std::vector<int> map = sndfileMapOfChannelMask(format.channelMask);
        sf_command(file_, SFC_SET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int)));
    }
    // Float to integer conversion must saturate at full scale instead of wrapping around.
    if (bitDepth != floatSamples) sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (bitDepth == 16) dither_ = std::make_unique<TpdfDither>(format.channelCount, dither);
}

AudioFileWriter::~AudioFileWriter() {
    if (file_ != nullptr) {
        sf_close(file_);
    }
}

void AudioFileWriter::write(const AudioBuffer& buffer) {
    if (buffer.channelCount() != format_.channelCount) {
        throw audioFileError(AudioFileErrorCode::writeFailed,
                             "Cannot write " + std::to_string(buffer.channelCount()) + " channels to " +
                                 quoted(path_) + ", which has " + std::to_string(format_.channelCount));
    }
    std::vector<const float*> channels(format_.channelCount);
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        channels[c] = buffer.channel(c);
    }
    write(channels.data(), buffer.frameLength());
}

void AudioFileWriter::write(const float* const* channels, uint32_t frames) {
    if (file_ == nullptr) {
        throw audioFileError(AudioFileErrorCode::writeFailed, "Cannot write to " + quoted(path_) + ": already closed");
    }
    const uint32_t channelCount = format_.channelCount;
    constexpr uint32_t sliceFrames = 16384;
    const size_t sliceSamples = size_t(std::min(frames, sliceFrames)) * channelCount;
    if (dither_) {
        quantized_.resize(sliceSamples);
    } else {
        interleaved_.resize(sliceSamples);
    }
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, sliceFrames);
        for (uint32_t c = 0; c < channelCount; ++c) {
            const float* in = channels[c] + done;
            if (dither_) {
                dither_->quantize(c, in, quantized_.data() + c, channelCount, n);
                continue;
            }
            float* out = interleaved_.data() + c;
            for (uint32_t i = 0; i < n; ++i) {
                const float x = in[i];
                out[size_t(i) * channelCount] = std::isfinite(x) ? x : 0.0f;
            }
        }
        const sf_count_t written = dither_ ? sf_writef_short(file_, quantized_.data(), n)
                                           : sf_writef_float(file_, interleaved_.data(), n);
        if (written != sf_count_t(n)) {
            throw audioFileError(AudioFileErrorCode::writeFailed,
                                 "Could not write to " + quoted(path_) + ": " + sndfileReason(file_));
        }
        done += n;
    }
}

void AudioFileWriter::close() {
    if (file_ == nullptr) {
        return;
    }
    sf_write_sync(file_);
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) {
        throw audioFileError(AudioFileErrorCode::writeFailed,
                             "Could not finish " + quoted(path_) + ": " + sf_error_number(result));
    }
    if (clearMaskAtClose_) clearWaveChannelMask(path_);
}

} // namespace orvanta
