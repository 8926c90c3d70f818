#include "platform/AudioFileReader.h"

#include "platform/AudioReaderBackend.h"
#include "platform/DecodedInput.h"
#include "platform/Error.h"
#include "platform/FileKind.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace orvanta {

namespace {

constexpr int64_t maxFrames = std::numeric_limits<uint32_t>::max();
// Far beyond any real recording (7.1.4 is 12); every pass keeps filter state and a block per channel.
constexpr uint32_t maxChannels = 32;
constexpr double minSampleRate = 1000.0;
constexpr double maxSampleRate = 768000.0;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// The largest magnitude in the bits of the samples' absolute values, which order as the values do;
// NaN and infinities (an all-ones exponent) compare above every finite value. Branch-free, so the
// loop vectorises.
uint32_t largestMagnitudeBits(const float* samples, uint32_t count) {
    uint32_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) largest = std::max(largest, std::bit_cast<uint32_t>(samples[i]) & 0x7FFFFFFFu);
    return largest;
}

std::string formatted(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

AudioFileReader::AudioFileReader(const std::filesystem::path& path) : path_(path) {
    // Checked before any decoder opens the path: a named pipe would block the open until another
    // program writes to it, and a device never ends.
    const FileKind kind = fileKindOf(path);
    if (kind == FileKind::missing) {
        throw audioFileError(AudioFileErrorCode::cannotOpen, "The file " + quoted(path) + " does not exist");
    }
    if (kind != FileKind::regular) {
        throw audioFileError(AudioFileErrorCode::cannotOpen, "The file " + quoted(path) + " is " +
                                                                 std::string(describeFileKind(kind)) +
                                                                 ", not an audio file");
    }

    // A song decoded once for its run is read from memory.
    backend_ = openDecodedBackend(path);
    std::string sndfileReason;
    if (!backend_) backend_ = openSndfileBackend(path, sndfileReason);
    if (!backend_) {
        std::string ffmpegReason;
        backend_ = openFfmpegBackend(path, ffmpegReason);
        if (!backend_) {
            throw audioFileError(AudioFileErrorCode::cannotOpen,
                                 "The file " + quoted(path) + " could not be opened as audio: " +
                                     (ffmpegReason.empty() ? sndfileReason : ffmpegReason));
        }
    }

    format_ = backend_->format();
    length_ = backend_->lengthFrames();
    declared_ = backend_->declaredFrames();
    if (format_.channelCount == 0 || format_.channelCount > maxChannels) {
        throw audioFileError(AudioFileErrorCode::unsupportedFormat,
                             "The file " + quoted(path) + " has " + std::to_string(format_.channelCount) +
                                 " channels, at most " + std::to_string(maxChannels) + " are supported");
    }
    if (!(format_.sampleRate >= minSampleRate && format_.sampleRate <= maxSampleRate)) {
        throw audioFileError(AudioFileErrorCode::unsupportedFormat,
                             "The file " + quoted(path) + " has an unsupported sample rate of " +
                                 std::to_string(format_.sampleRate) + " Hz");
    }
    if (length_ < 0 || length_ > maxFrames) {
        throw audioFileError(AudioFileErrorCode::unsupportedFormat,
                             "The file " + quoted(path) + " is too long to be processed");
    }
}

AudioFileReader::~AudioFileReader() = default;
AudioFileReader::AudioFileReader(AudioFileReader&&) noexcept = default;
AudioFileReader& AudioFileReader::operator=(AudioFileReader&&) noexcept = default;

bool AudioFileReader::endedEarly() const noexcept {
    const int64_t missing = declared_ - length_;
    return declared_ > 0 && missing > int64_t(format_.sampleRate * 0.1) && missing > declared_ / 100;
}

void AudioFileReader::setFramePosition(int64_t frame) { position_ = std::clamp<int64_t>(frame, 0, length_); }

uint32_t AudioFileReader::read(AudioBuffer& buffer, uint32_t frames) {
    buffer.setFrameLength(0);
    if (buffer.channelCount() != format_.channelCount) {
        throw audioFileError(AudioFileErrorCode::readFailed,
                             "Reading " + quoted(path_) + " needs a buffer of " +
                                 std::to_string(format_.channelCount) + " channels");
    }
    std::vector<float*> channels(format_.channelCount);
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        channels[c] = buffer.channel(c);
    }
    const uint32_t got = read(channels.data(), std::min(frames, buffer.frameCapacity()));
    buffer.setFrameLength(got);
    return got;
}

bool AudioFileReader::readsAnywhere() const noexcept { return backend_->readsAnywhere(); }

const AudioBuffer* AudioFileReader::samplesInMemory() const noexcept { return backend_->samplesInMemory(); }

uint32_t AudioFileReader::read(float* const* channels, uint32_t frames) {
    const int64_t available = length_ - position_;
    const uint32_t wanted = uint32_t(std::min<int64_t>(int64_t(frames), std::max<int64_t>(available, 0)));
    if (wanted == 0) {
        return 0;
    }
    const uint32_t got = backend_->read(position_, channels, wanted);
    constexpr uint32_t limitBits = std::bit_cast<uint32_t>(maxSampleMagnitude);
    for (uint32_t c = 0; c < format_.channelCount && !backend_->samplesChecked(); ++c) {
        if (largestMagnitudeBits(channels[c], got) <= limitBits) continue;
        const float* samples = channels[c];
        const uint32_t at = uint32_t(std::find_if(samples, samples + got, [](float x) {
                                         return !(std::fabs(x) <= maxSampleMagnitude);
                                     }) - samples);
        const float value = samples[at];
        const std::string where = " at " + formatted("%.2f s", double(position_ + at) / format_.sampleRate) + " in channel " +
                                  std::to_string(c + 1);
        const std::string what =
            std::isfinite(value)
                ? "holds samples at " + formatted("%+.1f dBFS", 20.0 * std::log10(std::fabs(double(value)))) + where + "; audio stays below +60 dBFS, so this is damaged or not audio"
                : std::string("holds samples that are not numbers (") + (std::isnan(value) ? "NaN" : "infinite") +
                      ")" + where + "; the file is damaged";
        throw audioFileError(AudioFileErrorCode::invalidSamples, "The file " + quoted(path_) + " " + what);
    }
    position_ += got;
    return got;
}

bool isReadableAudioFile(const std::filesystem::path& path) {
    try {
        AudioFileReader reader(path);
        return true;
    } catch (const Error&) {
        return false;
    }
}

} // namespace orvanta
