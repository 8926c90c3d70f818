#include "platform/AudioFileReader.h"

#include "platform/AudioReaderBackend.h"
#include "platform/DecodedInput.h"
#include "platform/Error.h"
#include "platform/FileKind.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

constexpr int64_t maxFrames = std::numeric_limits<uint32_t>::max();
// Far beyond any real recording (7.1.4 is 12); every pass keeps filter state and a block per channel.
constexpr uint32_t maxChannels = 32;
constexpr double minSampleRate = 1000.0;
constexpr double maxSampleRate = 768000.0;

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// Branch-free (an all-ones exponent marks infinities and NaNs), so the loop vectorises.
void zeroNonFinite(float* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t bits = std::bit_cast<uint32_t>(samples[i]);
        samples[i] = (bits & 0x7F800000u) == 0x7F800000u ? 0.0f : samples[i];
    }
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

void AudioFileReader::setFramePosition(int64_t frame) { position_ = std::clamp<int64_t>(frame, 0, length_); }

uint32_t AudioFileReader::read(AudioBuffer& buffer, uint32_t frames) {
    buffer.setFrameLength(0);
    if (buffer.channelCount() != format_.channelCount) {
        throw audioFileError(AudioFileErrorCode::readFailed,
                             "Reading " + quoted(path_) + " needs a buffer of " +
                                 std::to_string(format_.channelCount) + " channels");
    }
    const int64_t available = length_ - position_;
    const uint32_t wanted =
        uint32_t(std::min<int64_t>({int64_t(frames), int64_t(buffer.frameCapacity()), std::max<int64_t>(available, 0)}));
    if (wanted == 0) {
        return 0;
    }
    std::vector<float*> channels(format_.channelCount);
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        channels[c] = buffer.channel(c);
    }
    const uint32_t got = backend_->read(position_, channels.data(), wanted);
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        zeroNonFinite(channels[c], got);
    }
    buffer.setFrameLength(got);
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
