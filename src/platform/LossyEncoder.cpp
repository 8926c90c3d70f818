#include "platform/LossyEncoder.h"

#include "platform/AacPieces.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/LibavLog.h"
#include "platform/LossyEncoderParts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <thread>

namespace orvanta {

namespace {

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

// Frames per AAC packet: the pieces of a parallel encoding are cut at multiples of it.
constexpr int aacFrameSize = 1024;

int threadsFor(const LossyEncodingOptions& options) {
    if (options.threads > 0) return options.threads;
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

// Encodes the reader's frames from its position into the container at `partial`; the rate written.
int encodeInto(AudioFileReader& reader, const std::filesystem::path& input, const std::filesystem::path& partial,
               const lossy::Failure& failure, const LossyEncodingOptions& options) {
    const int inputRate = int(reader.sampleRate());
    if (double(inputRate) != reader.sampleRate()) {
        failure.unsupported("a fractional sample rate");
    }
    const float gain = std::pow(10.0f, options.gainDb / 20.0f);
    const int64_t frames = options.frameCount < 0 ? reader.lengthFrames() - options.firstFrame
                                                  : std::min(options.frameCount, reader.lengthFrames() - options.firstFrame);
    lossy::FrameEncoder encoder(failure, inputRate, int(reader.channelCount()), gain);
    const std::vector<lossy::AacPiece> pieces =
        failure.codec == LossyCodec::aac && !encoder.resamples() && encoder.frameSize() == aacFrameSize
            ? lossy::cutIntoPieces(frames, aacFrameSize, threadsFor(options))
            : std::vector<lossy::AacPiece>(1);
    if (pieces.size() > 1) {
        lossy::encodeAacPieces(failure, input, options.firstFrame, pieces, options.frameCount < 0, gain, partial,
                               options.checkpoint);
        return encoder.encodedSampleRate();
    }
    lossy::PacketMuxer muxer(failure, partial, encoder.context());
    const AVRational timeBase = encoder.context().time_base;
    encoder.encode(reader, options.frameCount, 0, [&](AVPacket& packet) { muxer.write(packet, timeBase); },
                   options.checkpoint);
    muxer.finish();
    return encoder.encodedSampleRate();
}

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
        const lossy::Failure failure{codec, input, output};
        result.sampleRate = encodeInto(reader, input, partial, failure, options); // closed before the rename
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
