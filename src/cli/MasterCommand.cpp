#include "cli/MasterCommand.h"

#include "batch/ExportNaming.h"
#include "cli/CliOutput.h"
#include "cli/InterruptFlag.h"
#include "cli/MasteringPresets.h"
#include "cli/TerminalStatus.h"
#include "engine/AudioProcessor.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "engine/TempoDetector.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"

#include <cmath>
#include <iostream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

struct MasterOptions {
    fs::path input;
    fs::path output;
    float targetLoudness = 0.0f;
    float limitThreshold = 0.0f;
    bool json = false;
};

MasterOptions parseOptions(const std::vector<std::string>& args) {
    Arguments arguments(args);
    MasterOptions options;
    options.json = arguments.takeFlag("--json");
    const auto outputOption = arguments.takeOption("-o");
    const std::string presetName = arguments.takeOption("--preset").value_or(std::string(defaultPresetName));
    const auto preset = presetNamed(presetName);
    if (!preset) throw UsageError("unknown preset \"" + presetName + "\" (Normal, Loud or \"Extra Loud\")");
    options.targetLoudness = preset->targetLoudness;
    options.limitThreshold = preset->limitThreshold;
    if (const auto target = arguments.takeOption("--target"))
        options.targetLoudness = static_cast<float>(parseNumber("--target", *target));
    if (const auto ceiling = arguments.takeOption("--ceiling"))
        options.limitThreshold = static_cast<float>(parseNumber("--ceiling", *ceiling));
    options.input = arguments.positionals(1).front();
    options.output = outputOption ? fs::path(*outputOption)
                                  : options.input.parent_path() / exportFileName(options.input, false, "wav");
    return options;
}

nlohmann::ordered_json statsJson(const AudioStats& stats) {
    return {{"lufs", jsonNumber(stats.lufs)}, {"peak", jsonNumber(stats.peak)}, {"rms", jsonNumber(stats.rms)}};
}

std::string levelsLine(const AudioStats& stats) {
    return formatLevel(stats.lufs, "LUFS") + ", peak " + formatLevel(stats.peak, "dBFS") + ", RMS " +
           formatLevel(stats.rms, "dB");
}

} // namespace

int runMasterCommand(const std::vector<std::string>& args) {
    const MasterOptions options = parseOptions(args);
    if (isSameFile(options.input, options.output)) {
        printError(options.output, "the output would replace the input; choose another name with -o");
        return exitFailure;
    }

    catchInterrupts();
    TerminalStatus status;
    DJMasteringResult result;
    AudioStats inputStats;
    try {
        inputStats = analyzeAudioFile(options.input);
        result = AudioProcessor::processAudio(
            options.input, [&status](double fraction) { status.showProgress(fraction); },
            [] { return wasInterrupted(); }, false, std::nullopt, true, options.targetLoudness,
            options.limitThreshold, status);
        status.finish();
        copyFileAtomically(result.outputURL, options.output);
        removeFileQuietly(result.outputURL);
    } catch (const Error& error) {
        status.finish();
        if (!result.outputURL.empty()) removeFileQuietly(result.outputURL);
        if (isCancellation(error) || wasInterrupted()) {
            printError(options.input, "cancelled");
            return exitInterrupted;
        }
        printError(options.input, error.what());
        return exitFailure;
    }

    const int bpm = detectTempo(options.input);
    const double gainDB = 20.0 * std::log10(static_cast<double>(result.totalGain));
    if (options.json) {
        printJson({{"input", statsJson(inputStats)},
                   {"output", statsJson(result.stats)},
                   {"bpm", bpm},
                   {"passes", result.passes},
                   {"gain_db", jsonNumber(gainDB)},
                   {"output_path", fs::absolute(options.output).string()}});
    } else {
        char gainText[32];
        std::snprintf(gainText, sizeof gainText, "%+.1f dB", gainDB);
        std::cout << "Input:  " << levelsLine(inputStats) << '\n'
                  << "Output: " << levelsLine(result.stats) << '\n'
                  << "Tempo:  " << bpm << " BPM\n"
                  << "Passes: " << result.passes << " (gain " << gainText << ")\n"
                  << "Saved:  " << options.output.string() << std::endl;
    }
    return exitSuccess;
}

} // namespace orvanta::cli
