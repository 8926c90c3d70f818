#pragma once

#include "platform/LosslessTranscode.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// Format of every result file. The engine renders a 24-bit WAV; every other format is made from it:
// a lossless container and word length, or a lossy encoding.
enum class ExportFormat {
    wav,      // the rendered 24-bit PCM WAV, unchanged
    m4a,      // AAC, 256 kb/s, in MPEG-4 audio
    wav16,    // 16-bit PCM WAV with TPDF dither (CD, some distributors)
    wavFloat, // 32-bit float WAV
    flac,     // 24-bit FLAC
    flac16,   // 16-bit FLAC with TPDF dither
    mp3,      // MP3 (LAME), 320 kb/s constant bit rate, gapless
};

// In the order the window offers them.
inline constexpr std::array<ExportFormat, 7> allExportFormats = {
    ExportFormat::wav,  ExportFormat::wav16,  ExportFormat::wavFloat, ExportFormat::flac,
    ExportFormat::flac16, ExportFormat::m4a, ExportFormat::mp3};

// The kind of file, whatever its word length.
enum class ExportContainer { wav, flac, m4a, mp3 };
inline constexpr std::array<ExportContainer, 4> allExportContainers = {ExportContainer::wav, ExportContainer::flac,
                                                                       ExportContainer::m4a, ExportContainer::mp3};

// Word length of a lossless format: 16 or 24 (integer PCM) or 32 (float); none for a lossy one.
inline constexpr int floatBitDepth = 32;

// The stored form: "WAV" / "M4A" as always, and "WAV16", "WAV32F", "FLAC", "FLAC16", "MP3".
std::string_view rawValue(ExportFormat format) noexcept;
// "wav", "flac", "m4a" or "mp3".
std::string_view fileExtension(ExportFormat format) noexcept;
std::string_view fileExtension(ExportContainer container) noexcept;
// What the window shows: "WAV 24-bit", "FLAC 16-bit", "MP3 320 kb/s", ...
std::string_view displayName(ExportFormat format) noexcept;
ExportContainer containerOf(ExportFormat format) noexcept;
std::optional<int> bitDepthOf(ExportFormat format) noexcept;
bool isLossy(ExportFormat format) noexcept;
// The format of `container` at `bitDepth` (none: the container's usual word length, 24 for WAV and
// FLAC). None for a combination that does not exist (a word length for a lossy format, 32 for FLAC).
std::optional<ExportFormat> exportFormatOf(ExportContainer container, std::optional<int> bitDepth) noexcept;
// The file a lossless format is written as (a lossy one gives the 24-bit WAV it is encoded from).
LosslessTarget losslessTargetOf(ExportFormat format, DitherShape dither) noexcept;
// The container a file name's extension names (".wav", ".flac", ".m4a", ".mp3", any case), if any.
std::optional<ExportContainer> containerNamedBy(const std::filesystem::path& name);
// The format a file called `name` gets when `chosen` is asked for: `chosen`, unless the name's
// extension names another of the containers, whose usual format it then gets, so that a file called
// .mp3 always holds MP3.
ExportFormat exportFormatForName(ExportFormat chosen, const std::filesystem::path& name) noexcept;
// Exact, case-sensitive match of a raw value; anything else (or nothing) is wav.
ExportFormat exportFormatFromStored(const std::optional<std::string>& stored) noexcept;

// Preference key of the chosen format.
inline constexpr const char* exportFormatKey = "exportFormat";

// Preference key of the chosen sample rate of results (a float, Hz; 0 or none: the song's own).
inline constexpr const char* exportSampleRateKey = "exportSampleRate";
// Preference key of the dither's noise shaping for 16-bit results (a bool; absent: flat TPDF).
inline constexpr const char* exportNoiseShapingKey = "exportNoiseShaping";

// The rates the window offers; 0 is the song's own.
inline constexpr std::array<int, 5> exportSampleRateChoices = {0, 44100, 48000, 88200, 96000};
// A stored rate: a whole number of Hz from 8000 to 384000; anything else (or 0, or nothing) is none.
std::optional<int> exportSampleRateFromStored(const std::optional<float>& stored) noexcept;

} // namespace orvanta
