#include "cli/OutputChoice.h"

#include "platform/PreferenceStore.h"

#include <algorithm>
#include <cctype>

namespace orvanta::cli {

namespace {

std::string lowercaseExtension(const std::filesystem::path& output) {
    std::string extension = output.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

std::optional<ExportFormat> formatNamedBy(const std::filesystem::path& output) {
    const std::string extension = lowercaseExtension(output);
    for (const ExportFormat format : allExportFormats)
        if (extension == "." + std::string(fileExtension(format))) return format;
    return std::nullopt;
}

// Audio formats a player would expect behind their extension, none of which is written: a name that
// promises one of them would hold WAV or M4A data.
bool namesAnotherAudioFormat(const std::filesystem::path& output) {
    static constexpr const char* extensions[] = {".mp3", ".mp2", ".flac", ".ogg", ".oga", ".opus", ".aac",
                                                 ".aif", ".aiff", ".aifc", ".caf", ".alac", ".wma", ".wv",
                                                 ".ape", ".w64", ".rf64", ".au", ".mka", ".webm"};
    const std::string extension = lowercaseExtension(output);
    return std::find(std::begin(extensions), std::end(extensions), extension) != std::end(extensions);
}

} // namespace

std::optional<ExportFormat> takeFormatOption(Arguments& arguments) {
    const auto format = arguments.takeOption("--format");
    if (!format) return std::nullopt;
    for (const ExportFormat candidate : allExportFormats)
        if (*format == fileExtension(candidate)) return candidate;
    throw UsageError("unknown format \"" + *format + "\" (wav or m4a)");
}

ExportFormat chooseExportFormat(const std::optional<ExportFormat>& requested,
                                const std::optional<std::filesystem::path>& output, const PreferenceStore& preferences) {
    const std::optional<ExportFormat> named = output ? formatNamedBy(*output) : std::nullopt;
    if (output && !named && namesAnotherAudioFormat(*output)) {
        throw UsageError("the output name \"" + output->filename().string() + "\" promises a format that is not " +
                         "written; name it .wav or .m4a");
    }
    if (requested && named && *requested != *named) {
        throw UsageError("--format " + std::string(fileExtension(*requested)) + " contradicts the output name \"" +
                         output->filename().string() + "\"");
    }
    if (requested) return *requested;
    if (named) return *named;
    return exportFormatFromStored(preferences.stringValue(exportFormatKey));
}

} // namespace orvanta::cli
