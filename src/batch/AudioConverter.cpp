#include "batch/AudioConverter.h"

#include "engine/ProcessingErrors.h"
#include "engine/TruePeakDetector.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/LosslessTranscode.h"
#include "platform/TemporaryDirectory.h"

#include <cstdio>

namespace orvanta {

namespace {

std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

Error converterError(AudioConverter::ConversionError code, std::string description,
                     std::shared_ptr<const Error> underlying = nullptr) {
    return Error(std::string(AudioConverter::domain), int(code), std::move(description), std::move(underlying));
}

Error exportFailure(std::string message, std::shared_ptr<const Error> underlying = nullptr) {
    return converterError(AudioConverter::ConversionError::exportFailure, std::move(message), std::move(underlying));
}

// A word length other than the container's usual one is named in the file's name, so that a 16-bit
// copy of Song_master.wav is never the master itself.
std::string wordLengthSuffix(ExportFormat format) {
    switch (format) {
    case ExportFormat::wav16:
    case ExportFormat::flac16: return "_16bit";
    case ExportFormat::wavFloat: return "_float";
    default: return "";
    }
}

// The converted file's place: the temporary directory, the input's base name, the format's suffix
// (once: an input that already carries it keeps its name) and extension.
std::filesystem::path conversionPath(const std::filesystem::path& input, ExportFormat format) {
    std::string base = baseNameWithoutExtension(input);
    const std::string suffix = wordLengthSuffix(format);
    if (base.size() < suffix.size() || base.compare(base.size() - suffix.size(), suffix.size(), suffix) != 0) base += suffix;
    return privateTemporaryDirectory() / (base + "." + std::string(fileExtension(format)));
}

} // namespace

std::optional<LossyCodec> lossyCodecOf(ExportFormat format) noexcept {
    switch (format) {
    case ExportFormat::m4a: return LossyCodec::aac;
    case ExportFormat::mp3: return LossyCodec::mp3;
    default: break;
    }
    return std::nullopt;
}

std::filesystem::path AudioConverter::finishExport(int status, const std::filesystem::path& output,
                                                   std::shared_ptr<const Error> failure) {
    switch (status) {
    case int(ExportStatus::completed):
        if (!fileExists(output)) {
            throw exportFailure("Output file was not created");
        }
        return output;
    case int(ExportStatus::failed):
        // Never a copy of the WAV under the .m4a name: a file called .m4a is always real M4A.
        throw exportFailure(failure ? "Export failed: " + failure->description() : std::string("Export failed"),
                            std::move(failure));
    case int(ExportStatus::cancelled):
        throw exportFailure("Export was cancelled");
    default:
        throw exportFailure("Unexpected export status: " + std::to_string(status));
    }
}

AudioConverter::Conversion AudioConverter::convert(const std::filesystem::path& input, ExportFormat format,
                                                   float ceilingDb, const CancellationQuery& isCancelled,
                                                   const Remaster& remaster, std::optional<float> masterLufs,
                                                   DitherShape dither, WorkThreads threads) {
    const std::filesystem::path output = conversionPath(input, format);
    if (isSameFile(output, input)) {
        return {input, std::nullopt}; // converted by an earlier pass
    }

    // The input is checked before the old output goes, so a call with a bad input destroys nothing.
    if (!fileExists(input)) {
        throw converterError(ConversionError::fileNotFound, "The file " + quoted(input) + " does not exist");
    }
    try {
        AudioFileReader reader(input);
    } catch (const Error& error) {
        throw converterError(ConversionError::fileNotFound,
                             "The file " + quoted(input) + " could not be opened as audio",
                             std::make_shared<const Error>(error));
    }

    if (fileExists(output)) {
        removeFile(output);
    }

    if (format == ExportFormat::wav) {
        copyFileAtomically(input, output);
        return {output, std::nullopt};
    }
    if (!isLossy(format)) {
        try {
            transcodeLossless(input, output, losslessTargetOf(format, dither), isCancelled,
                              [] { throw cancellationError(); });
        } catch (const Error& error) {
            if (isCancellation(error)) return {finishExport(int(ExportStatus::cancelled), output), std::nullopt};
            return {finishExport(int(ExportStatus::failed), output, std::make_shared<const Error>(error)), std::nullopt};
        }
        return {finishExport(int(ExportStatus::completed), output), std::nullopt};
    }

    CeilingEncoding encoding;
    try {
        encoding = encodeUnderCeiling(input, output, *lossyCodecOf(format), ceilingDb, remaster, isCancelled,
                                      masterLufs, threads);
    } catch (const Error& error) {
        removeFileQuietly(output);
        if (isCancellation(error)) return {finishExport(int(ExportStatus::cancelled), output), std::nullopt};
        return {finishExport(int(ExportStatus::failed), output, std::make_shared<const Error>(error)), std::nullopt};
    } catch (const std::exception& error) {
        removeFileQuietly(output);
        return {finishExport(int(ExportStatus::failed), output,
                             std::make_shared<const Error>(std::string(domains::audioFile),
                                                           int(AudioFileErrorCode::writeFailed), error.what())),
                std::nullopt};
    }
    return {finishExport(int(ExportStatus::completed), output), encoding.truePeakDb, encoding.sourceSampleRate,
            encoding.sampleRate, encoding.encodings, encoding.remasters, encoding.masterCeilingDb,
            *lossyCodecOf(format), encoding.stats};
}

std::optional<std::string> AudioConverter::noteOn(const Conversion& conversion) {
    if (conversion.sampleRate == 0 || double(conversion.sampleRate) == conversion.sourceSampleRate) return std::nullopt;
    const auto kilohertz = [](double hz) {
        char text[32];
        std::snprintf(text, sizeof text, "%g kHz", hz / 1000.0);
        return std::string(text);
    };
    const bool mp3 = conversion.codec == LossyCodec::mp3;
    const std::string codec = mp3 ? "MP3" : "AAC";
    const std::string reason = conversion.sourceSampleRate > (mp3 ? 48000.0 : 96000.0)
                                   ? codec + (mp3 ? " carries at most 48 kHz" : " carries at most 96 kHz")
                                   : codec + " does not carry " + kilohertz(conversion.sourceSampleRate);
    return reason + ": the " + std::string(codecName(conversion.codec)) + " is resampled from " + kilohertz(conversion.sourceSampleRate) + " to " +
           kilohertz(conversion.sampleRate);
}

} // namespace orvanta
