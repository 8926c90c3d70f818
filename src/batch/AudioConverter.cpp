#include "batch/AudioConverter.h"

#include "batch/M4ACeilingEncoder.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
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

} // namespace

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
                                                   float ceilingDb, const CancellationQuery& isCancelled) {
    const std::filesystem::path output =
        privateTemporaryDirectory() / (baseNameWithoutExtension(input) + "." + std::string(fileExtension(format)));
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

    CeilingEncoding encoding;
    try {
        encoding = encodeM4AUnderCeiling(input, output, ceilingDb, isCancelled);
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
            encoding.sampleRate};
}

std::optional<std::string> AudioConverter::noteOn(const Conversion& conversion) {
    if (conversion.sampleRate == 0 || double(conversion.sampleRate) == conversion.sourceSampleRate) return std::nullopt;
    const auto kilohertz = [](double hz) {
        char text[32];
        std::snprintf(text, sizeof text, "%g kHz", hz / 1000.0);
        return std::string(text);
    };
    const std::string reason = conversion.sourceSampleRate > 96000.0
                                   ? "AAC carries at most 96 kHz"
                                   : "AAC does not carry " + kilohertz(conversion.sourceSampleRate);
    return reason + ": the M4A is resampled from " + kilohertz(conversion.sourceSampleRate) + " to " +
           kilohertz(conversion.sampleRate);
}

} // namespace orvanta
