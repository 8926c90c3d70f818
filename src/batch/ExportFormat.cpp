#include "batch/ExportFormat.h"

#include <cctype>

namespace orvanta {

namespace {

struct FormatFacts {
    ExportFormat format;
    std::string_view raw;
    ExportContainer container;
    int bitDepth; // 0: lossy
    std::string_view name;
};

constexpr std::array<FormatFacts, 7> facts = {{
    {ExportFormat::wav, "WAV", ExportContainer::wav, 24, "WAV 24-bit"},
    {ExportFormat::m4a, "M4A", ExportContainer::m4a, 0, "M4A (AAC 256 kb/s)"},
    {ExportFormat::wav16, "WAV16", ExportContainer::wav, 16, "WAV 16-bit"},
    {ExportFormat::wavFloat, "WAV32F", ExportContainer::wav, floatBitDepth, "WAV 32-bit float"},
    {ExportFormat::flac, "FLAC", ExportContainer::flac, 24, "FLAC 24-bit"},
    {ExportFormat::flac16, "FLAC16", ExportContainer::flac, 16, "FLAC 16-bit"},
    {ExportFormat::mp3, "MP3", ExportContainer::mp3, 0, "MP3 320 kb/s"},
}};

const FormatFacts& factsOf(ExportFormat format) noexcept {
    for (const FormatFacts& entry : facts)
        if (entry.format == format) return entry;
    return facts.front();
}

} // namespace

std::string_view rawValue(ExportFormat format) noexcept { return factsOf(format).raw; }

std::string_view fileExtension(ExportContainer container) noexcept {
    switch (container) {
    case ExportContainer::flac: return "flac";
    case ExportContainer::m4a: return "m4a";
    case ExportContainer::mp3: return "mp3";
    case ExportContainer::wav: break;
    }
    return "wav";
}

std::string_view fileExtension(ExportFormat format) noexcept { return fileExtension(containerOf(format)); }

std::string_view displayName(ExportFormat format) noexcept { return factsOf(format).name; }

std::optional<ExportContainer> containerNamedBy(const std::filesystem::path& name) {
    std::string extension = name.extension().string();
    if (extension.size() < 2) return std::nullopt;
    extension.erase(0, 1); // the dot
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const ExportContainer container : allExportContainers)
        if (extension == fileExtension(container)) return container;
    return std::nullopt;
}

ExportFormat exportFormatForName(ExportFormat chosen, const std::filesystem::path& name) noexcept {
    std::optional<ExportContainer> named;
    try {
        named = containerNamedBy(name);
    } catch (...) {
        return chosen;
    }
    if (!named || *named == containerOf(chosen)) return chosen;
    return exportFormatOf(*named, std::nullopt).value_or(chosen);
}

ExportContainer containerOf(ExportFormat format) noexcept { return factsOf(format).container; }

std::optional<int> bitDepthOf(ExportFormat format) noexcept {
    const int depth = factsOf(format).bitDepth;
    return depth > 0 ? std::optional<int>(depth) : std::nullopt;
}

bool isLossy(ExportFormat format) noexcept { return !bitDepthOf(format); }

std::optional<ExportFormat> exportFormatOf(ExportContainer container, std::optional<int> bitDepth) noexcept {
    // The container's usual word length is the first entry that has it.
    for (const FormatFacts& entry : facts) {
        if (entry.container != container) continue;
        if (!bitDepth || entry.bitDepth == *bitDepth) return entry.format;
    }
    return std::nullopt;
}

LosslessTarget losslessTargetOf(ExportFormat format, DitherShape dither) noexcept {
    LosslessTarget target;
    target.container = containerOf(format) == ExportContainer::flac ? AudioContainer::flac : AudioContainer::wav;
    const int depth = bitDepthOf(format).value_or(24);
    target.bitDepth = depth == floatBitDepth ? AudioFileWriter::floatSamples : depth;
    target.dither = dither;
    return target;
}

ExportFormat exportFormatFromStored(const std::optional<std::string>& stored) noexcept {
    if (stored) {
        for (const FormatFacts& entry : facts) {
            if (*stored == entry.raw) return entry.format;
        }
    }
    return ExportFormat::wav;
}

std::optional<int> exportSampleRateFromStored(const std::optional<float>& stored) noexcept {
    if (!stored || !(*stored >= 8000.0f && *stored <= 384000.0f) || *stored != float(int(*stored))) return std::nullopt;
    return int(*stored);
}

} // namespace orvanta
