#include "cli/OutputChoice.h"

#include "platform/LossyEncoder.h"
#include "platform/PreferenceStore.h"

#include <algorithm>
#include <cctype>

namespace orvanta::cli {

namespace {

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string kindName(ExportContainer container) {
    std::string name(fileExtension(container));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return name;
}

// Audio formats a player would expect behind their extension, none of which is written: a name that
// promises one of them would hold other data.
bool namesAnotherAudioFormat(const std::filesystem::path& output) {
    static constexpr std::string_view extensions[] = {".mp2", ".ogg", ".oga", ".opus", ".aac", ".aif",
                                                      ".aiff", ".aifc", ".caf", ".alac", ".wma", ".wv",
                                                      ".ape", ".w64", ".rf64", ".au", ".mka", ".webm"};
    const std::string extension = lowercase(output.extension().string());
    return std::find(std::begin(extensions), std::end(extensions), extension) != std::end(extensions);
}

} // namespace

FormatRequest takeFormatRequest(Arguments& arguments) {
    FormatRequest request;
    if (const auto format = arguments.takeOption("--format")) {
        for (const ExportContainer candidate : allExportContainers)
            if (*format == fileExtension(candidate)) request.container = candidate;
        if (!request.container) throw UsageError("unknown format \"" + *format + "\" (wav, flac, m4a or mp3)");
    }
    if (const auto bits = arguments.takeOption("--bits")) {
        if (*bits != "16" && *bits != "24" && *bits != "32")
            throw UsageError("--bits takes 16, 24 or 32 (32-bit float, WAV only), got " + *bits);
        request.bits = std::stoi(*bits);
    }
    return request;
}

std::optional<int> takeRateOption(Arguments& arguments) {
    const auto text = arguments.takeOption("--rate");
    if (!text) return std::nullopt;
    const double rate = parseNumberInRange("--rate", *text, 8000.0, 384000.0, "Hz");
    if (rate != double(int(rate))) throw UsageError("--rate takes a whole number of Hz, got " + *text);
    return int(rate);
}

ExportFormat chooseExportFormat(const FormatRequest& requested, const std::optional<std::filesystem::path>& output,
                                const PreferenceStore& preferences) {
    const std::optional<ExportContainer> named = output ? containerNamedBy(*output) : std::nullopt;
    if (output && !named && namesAnotherAudioFormat(*output)) {
        throw UsageError("the output name \"" + output->filename().string() + "\" promises a format that is not " +
                         "written; name it .wav, .flac, .m4a or .mp3");
    }
    if (requested.container && named && *requested.container != *named) {
        throw UsageError("--format " + std::string(fileExtension(*requested.container)) +
                         " contradicts the output name \"" + output->filename().string() + "\"");
    }
    const ExportFormat stored = exportFormatFromStored(preferences.stringValue(exportFormatKey));
    const std::optional<ExportContainer> asked = requested.container ? requested.container : named;
    ExportContainer container = asked.value_or(containerOf(stored));
    if (!requested.bits) {
        if (container == containerOf(stored)) return stored;
        return *exportFormatOf(container, std::nullopt);
    }
    // A word length with nothing else asked means a file that has one, whatever was stored.
    if (!asked && isLossy(stored)) container = ExportContainer::wav;
    if (const auto format = exportFormatOf(container, requested.bits)) return *format;
    const std::string bits = "--bits " + std::to_string(*requested.bits);
    if (container == ExportContainer::m4a || container == ExportContainer::mp3)
        throw UsageError(bits + " does not apply to " + kindName(container) + ", which has no word length");
    throw UsageError(bits + " is 32-bit float, which only WAV holds (FLAC takes 16 or 24)");
}

void checkRateFits(ExportFormat format, const std::optional<int>& sampleRate) {
    if (sampleRate && format == ExportFormat::mp3 && !mp3CarriesSampleRate(double(*sampleRate)))
        throw UsageError("MP3 carries 8 to 48 kHz (8000 to 48000 Hz); --rate " + std::to_string(*sampleRate) +
                         " needs another format");
}

std::vector<std::string> formatArguments(ExportFormat format) {
    std::vector<std::string> words = {"--format", std::string(fileExtension(format))};
    if (const auto bits = bitDepthOf(format)) {
        words.push_back("--bits");
        words.push_back(std::to_string(*bits));
    }
    return words;
}

OutputRequest takeOutputRequest(Arguments& arguments) {
    OutputRequest request;
    request.format = takeFormatRequest(arguments);
    request.sampleRate = takeRateOption(arguments);
    if (arguments.takeFlag("--noise-shaping")) request.dither = DitherShape::noiseShaped;
    return request;
}

std::string fileKindName(ExportFormat format) { return kindName(containerOf(format)); }

} // namespace orvanta::cli
