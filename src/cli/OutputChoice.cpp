#include "cli/OutputChoice.h"

#include "platform/PreferenceStore.h"

#include <algorithm>
#include <cctype>

namespace orvanta::cli {

namespace {

std::optional<ExportFormat> formatNamedBy(const std::filesystem::path& output) {
    std::string extension = output.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const ExportFormat format : allExportFormats)
        if (extension == "." + std::string(fileExtension(format))) return format;
    return std::nullopt;
}

} // namespace

std::optional<ExportFormat> takeFormatOption(Arguments& arguments) {
    const auto format = arguments.takeOption("--format");
    if (!format) return std::nullopt;
    for (const ExportFormat candidate : allExportFormats)
        if (*format == fileExtension(candidate)) return candidate;
    throw UsageError("unknown format \"" + *format + "\" (wav, m4a or mp3)");
}

ExportFormat chooseExportFormat(const std::optional<ExportFormat>& requested,
                                const std::optional<std::filesystem::path>& output, const PreferenceStore& preferences) {
    const std::optional<ExportFormat> named = output ? formatNamedBy(*output) : std::nullopt;
    if (requested && named && *requested != *named) {
        throw UsageError("--format " + std::string(fileExtension(*requested)) + " contradicts the output name \"" +
                         output->filename().string() + "\"");
    }
    if (requested) return *requested;
    if (named) return *named;
    return exportFormatFromStored(preferences.stringValue(exportFormatKey));
}

} // namespace orvanta::cli
