#pragma once

#include "batch/ExportFormat.h"
#include "cli/CliOutput.h"

#include <filesystem>
#include <optional>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// "--format wav|m4a", when given. Throws UsageError for another value.
std::optional<ExportFormat> takeFormatOption(Arguments& arguments);

// The format a run writes: `requested` (--format) when given; else the one the output's extension
// names (".m4a" or ".wav", any case), so that a file called .m4a always holds M4A; else the stored
// preference in `preferences`. Throws UsageError when --format contradicts the output's extension, or
// when the extension names another audio format (".mp3", ".flac", ...), whose players would find WAV data.
ExportFormat chooseExportFormat(const std::optional<ExportFormat>& requested,
                                const std::optional<std::filesystem::path>& output, const PreferenceStore& preferences);

} // namespace orvanta::cli
