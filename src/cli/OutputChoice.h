#pragma once

#include "batch/ExportFormat.h"
#include "cli/CliOutput.h"
#include "platform/TpdfDither.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// What "--format wav|flac|m4a|mp3" and "--bits 16|24|32" asked for, each when given.
struct FormatRequest {
    std::optional<ExportContainer> container;
    std::optional<int> bits; // 32: float
    bool any() const noexcept { return container || bits; }
};

// Takes both options off the line. Throws UsageError for another value.
FormatRequest takeFormatRequest(Arguments& arguments);

// "--rate HZ", when given: a whole number from 8000 to 384000. Throws UsageError otherwise.
std::optional<int> takeRateOption(Arguments& arguments);

// The format a run writes. The container: --format when given; else the one the output's extension
// names (".wav", ".flac", ".m4a", ".mp3", any case), so that a file called .flac always holds FLAC;
// else the stored preference's. The word length: --bits when given; else the stored preference's when
// that has the same container; else the container's usual one (24 bits). Throws UsageError when
// --format contradicts the output's extension, when the extension names an audio format that is not
// written (".ogg", ".aiff", ...: its players would find other data), or when --bits does not fit the
// container (32 is float, WAV only; M4A and MP3 take none); --bits with a lossy stored preference and
// nothing else asked makes a WAV.
ExportFormat chooseExportFormat(const FormatRequest& requested, const std::optional<std::filesystem::path>& output,
                                const PreferenceStore& preferences);

// Throws UsageError when `format` cannot carry `sampleRate` (MP3 carries 8 to 48 kHz).
void checkRateFits(ExportFormat format, const std::optional<int>& sampleRate);

// The words that ask a run of this program for `format`: "--format flac --bits 16".
std::vector<std::string> formatArguments(ExportFormat format);

// How a run writes its result: format and word length, rate, dither.
struct OutputRequest {
    FormatRequest format;
    std::optional<int> sampleRate;          // --rate, Hz; the input's when absent
    DitherShape dither = DitherShape::flat; // --noise-shaping: noiseShaped
    bool any() const noexcept { return format.any() || sampleRate || dither != DitherShape::flat; }
};

// Takes --format, --bits, --rate and --noise-shaping off the line. Throws UsageError for a bad value.
OutputRequest takeOutputRequest(Arguments& arguments);

// "M4A", "FLAC", "WAV", "MP3": the kind of file a format makes, for messages.
std::string fileKindName(ExportFormat format);

} // namespace orvanta::cli
