#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// Format of every result file: the rendered 24-bit WAV, or that file encoded as AAC in M4A.
enum class ExportFormat { wav, m4a };

inline constexpr std::array<ExportFormat, 2> allExportFormats = {ExportFormat::wav, ExportFormat::m4a};

// "WAV" / "M4A": the stored form.
std::string_view rawValue(ExportFormat format) noexcept;
// "wav" / "m4a".
std::string_view fileExtension(ExportFormat format) noexcept;
// Exact, case-sensitive match of a raw value; anything else (or nothing) is wav.
ExportFormat exportFormatFromStored(const std::optional<std::string>& stored) noexcept;

// Preference key of the chosen format.
inline constexpr const char* exportFormatKey = "exportFormat";

} // namespace orvanta
