#include "batch/ExportFormat.h"

namespace orvanta {

std::string_view rawValue(ExportFormat format) noexcept {
    switch (format) {
    case ExportFormat::m4a: return "M4A";
    case ExportFormat::mp3: return "MP3";
    case ExportFormat::wav: break;
    }
    return "WAV";
}

std::string_view fileExtension(ExportFormat format) noexcept {
    switch (format) {
    case ExportFormat::m4a: return "m4a";
    case ExportFormat::mp3: return "mp3";
    case ExportFormat::wav: break;
    }
    return "wav";
}

ExportFormat exportFormatFromStored(const std::optional<std::string>& stored) noexcept {
    if (stored) {
        for (const ExportFormat format : allExportFormats) {
            if (*stored == rawValue(format)) {
                return format;
            }
        }
    }
    return ExportFormat::wav;
}

} // namespace orvanta
