#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// Format of every result file: the rendered 24-bit WAV, or that file encoded as AAC in M4A or as MP3.
enum class ExportFormat { wav, m4a, mp3 };

inline constexpr std::array<ExportFormat, 3> allExportFormats = {ExportFormat::wav, ExportFormat::m4a,
                                                                 ExportFormat::mp3};

// "WAV" / "M4A" / "MP3": the stored form.
std::string_view rawValue(ExportFormat format) noexcept;
// "wav" / "m4a" / "mp3".
std::string_view fileExtension(ExportFormat format) noexcept;
// A lossy format: its decoded peaks differ from the master's.
constexpr bool isLossy(ExportFormat format) noexcept { return format != ExportFormat::wav; }
// Exact, case-sensitive match of a raw value; anything else (or nothing) is wav.
ExportFormat exportFormatFromStored(const std::optional<std::string>& stored) noexcept;

// Preference key of the chosen format.
inline constexpr const char* exportFormatKey = "exportFormat";

} // namespace orvanta
