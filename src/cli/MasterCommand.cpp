#include "cli/MasterCommand.h"

#include "batch/BatchProcessor.h"
#include "batch/ExportNaming.h"
#include "cli/CliOutput.h"
#include "cli/CancelOnInterrupt.h"
#include "cli/EventLoop.h"
#include "cli/InterruptFlag.h"
#include "batch/MasteringPresets.h"
#include "cli/RunTemporaryDirectory.h"
#include "cli/TerminalStatus.h"
#include "engine/ProcessingErrors.h"
#include "engine/ProcessingStatusManager.h"
#include "engine/TempoDetector.h"
#include "eq/EQManager.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"
#include "eq/ReferenceTrackManager.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceStore.h"

#include <cmath>
#include <iostream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

struct MasterOptions {
    fs::path input;
    std::optional<fs::path> output;
    std::string presetName;
    float targetLoudness = 0.0f;
    float limitThreshold = 0.0f;
    std::optional<fs::path> reference;
    std::optional<float> matchStrength; // percent; the stored choice when absent
    std::optional<ExportFormat> format;
    bool json = false;
};

MasterOptions parseOptions(const std::vector<std::string>& args) {
    Arguments arguments(args);
    MasterOptions options;
    options.json = arguments.takeFlag("--json");
    if (const auto output = arguments.takeOption("-o")) options.output = fs::path(*output);
    options.presetName = arguments.takeOption("--preset").value_or(std::string(defaultPresetName));
    const auto preset = presetNamed(options.presetName);
    if (!preset) throw UsageError("unknown preset \"" + options.presetName + "\" (Normal, Loud or \"Extra Loud\")");
    options.targetLoudness = preset->targetLoudness;
    options.limitThreshold = preset->limitThreshold;
    if (const auto target = arguments.takeOption("--target"))
        options.targetLoudness = static_cast<float>(parseNumber("--target", *target));
    if (const auto ceiling = arguments.takeOption("--ceiling"))
        options.limitThreshold = static_cast<float>(parseNumber("--ceiling", *ceiling));
    if (const auto reference = arguments.takeOption("--reference")) options.reference = fs::path(*reference);
    if (const auto amount = arguments.takeOption("--match-amount")) {
        options.matchStrength = matchStrengthNamed(*amount);
        if (!options.matchStrength) options.matchStrength = static_cast<float>(parseNumber("--match-amount", *amount));
        if (!isValidMatchStrength(*options.matchStrength))
            throw UsageError("--match-amount takes a percentage from 0 to 100 (or Gentle, Medium, Full)");
        if (!options.reference) throw UsageError("--match-amount needs --reference");
    }
    if (const auto format = arguments.takeOption("--format")) {
        if (*format == "wav") options.format = ExportFormat::wav;
        else if (*format == "m4a") options.format = ExportFormat::m4a;
        else throw UsageError("unknown format \"" + *format + "\" (wav or m4a)");
    }
    options.input = arguments.positionals(1).front();
    return options;
}

nlohmann::ordered_json statsJson(const AudioStats& stats) {
    return {{"lufs", jsonNumber(stats.lufs)},
            {"peak", jsonNumber(stats.peak)},
            {"true_peak", jsonNumber(stats.truePeak)},
            {"rms", jsonNumber(stats.rms)}};
}

std::string levelsLine(const AudioStats& stats) {
    return formatLevel(stats.lufs, "LUFS") + ", peak " + formatLevel(stats.peak, "dBFS") + ", true peak " +
           formatLevel(stats.truePeak, "dBTP") + ", RMS " + formatLevel(stats.rms, "dB");
}

// Loading a reference stores its profile for the window; a run of the command line leaves the stored
// one as it was.
class StoredReferenceKeeper {
public:
    StoredReferenceKeeper() : saved_(PreferenceStore::standard().dataValue(ReferenceTrackManager::userDefaultsKey)) {}
    ~StoredReferenceKeeper() {
        PreferenceStore& store = PreferenceStore::standard();
        if (saved_) store.setData(ReferenceTrackManager::userDefaultsKey, *saved_);
        else if (store.contains(ReferenceTrackManager::userDefaultsKey)) store.remove(ReferenceTrackManager::userDefaultsKey);
    }

private:
    std::optional<PreferenceStore::Data> saved_;
};

// Shows the status manager's stage messages and the processor's progress on the terminal.
class RunMonitor {
public:
    RunMonitor(BatchProcessor& processor, TerminalStatus& status) {
        ProcessingStatusManager& manager = ProcessingStatusManager::shared();
        QObject::connect(&manager, &ProcessingStatusManager::detailedMessageChanged, &context_, [&manager, &status] {
            status.updateStage(ProcessingStage(manager.currentStageNumber()), manager.detailedMessage().toStdString(),
                               manager.technicalInfo().toStdString());
        });
        QObject::connect(&processor, &BatchProcessor::progressChanged, &context_,
                         [&processor, &status] { status.showProgress(processor.progress()); });
    }

private:
    QObject context_;
};

bool completed(const BatchProcessor& processor) {
    return processor.currentFile() &&
           processor.currentFile()->processingStatus == AudioFile::ProcessingStatus::completed;
}

} // namespace

int runMasterCommand(const std::vector<std::string>& args) {
    const MasterOptions options = parseOptions(args);
    const ExportFormat format = options.format.value_or(
        exportFormatFromStored(PreferenceStore::standard().stringValue(exportFormatKey)));
    bool withReference = options.reference.has_value();
    const auto outputFor = [&](bool final) {
        return options.output.value_or(options.input.parent_path() /
                                       exportFileName(options.input, final, std::string(fileExtension(format))));
    };
    fs::path output = outputFor(withReference);
    if (isSameFile(options.input, output)) {
        printError(output, "the output would replace the input; choose another name with -o");
        return exitFailure;
    }
    if (!fileExists(options.input)) {
        printError(options.input, "no such file");
        return exitFailure;
    }

    ensureApplication();
    catchInterrupts();
    const RunTemporaryDirectory workFolder; // outlives the processor, whose tasks write there
    const StoredReferenceKeeper storedReference;
    TerminalStatus status;
    BatchProcessor processor;
    processor.setExportFormatOverride(format);
    const RunMonitor monitor(processor, status);
    const CancelOnInterrupt cancelOnInterrupt(processor);
    const auto fail = [&](const fs::path& file, const std::string& message) {
        status.finish();
        if (wasInterrupted()) {
            printError(options.input, "cancelled");
            return exitInterrupted;
        }
        printError(file, message);
        return exitFailure;
    };

    if (withReference) {
        try {
            QFuture<void> loading = ReferenceTrackManager::shared().loadReference(*options.reference);
            waitFor(loading);
            loading.waitForFinished(); // rethrows the analysis error
        } catch (const Error& error) {
            if (!error.is(referenceTrackDomain, referenceUnmatchableCode))
                return fail(*options.reference, std::string("cannot load the reference: ") + error.what());
            // Nothing to match against: the master alone is the result, named as a master.
            status.finish();
            printError(*options.reference, error.description() + "; mastering without the reference pass");
            withReference = false;
            output = outputFor(false);
            if (isSameFile(options.input, output)) {
                printError(output, "the output would replace the input; choose another name with -o");
                return exitFailure;
            }
        } catch (const std::exception& error) {
            return fail(*options.reference, std::string("cannot load the reference: ") + error.what());
        }
        if (withReference && !ReferenceTrackManager::shared().hasProfile())
            return fail(*options.reference, "cannot load the reference");
        if (withReference && options.matchStrength) ReferenceTrackManager::shared().setMatchStrength(*options.matchStrength);
    }
    if (wasInterrupted()) return fail(options.input, "cancelled");
    const bool loaded = waitForResult(processor.loadFile(options.input));
    // Ctrl+C before the pass started: a pass resets the processor's cancellation, so stop here.
    if (wasInterrupted()) return fail(options.input, "cancelled");
    if (!loaded) return fail(options.input, "cannot open as audio");
    const std::optional<AudioStats> inputStats = processor.currentFile()->originalStats;
    if (!inputStats) return fail(options.input, "cannot measure the input");
    if (inputStats->measurability != Measurability::measurable)
        return fail(options.input, unmeasurableAudioError(inputStats->measurability).description());

    waitFor(processor.processCurrentFile(options.presetName, false, options.targetLoudness, options.limitThreshold));
    if (wasInterrupted() || !completed(processor)) return fail(options.input, "mastering failed");
    const std::optional<BatchPassRecord> masterPass = processor.lastPass();

    if (withReference) {
        // As the window does: the final pair cleared and the entry pending before the reference pass.
        AudioFile entry = *processor.currentFile();
        entry.finalURL.reset();
        entry.finalStats.reset();
        entry.processingStatus = AudioFile::ProcessingStatus::pending;
        processor.setCurrentFile(entry);
        waitFor(processor.processCurrentFile(options.presetName, true, options.targetLoudness, options.limitThreshold));
        if (wasInterrupted() || !completed(processor) || !processor.currentFile()->finalURL)
            return fail(options.input, "the reference pass failed");
    }

    const AudioFile& file = *processor.currentFile();
    const fs::path result = withReference ? *file.finalURL : *file.masterURL;
    try {
        copyFileAtomically(result, output);
    } catch (const Error& error) {
        return fail(output, error.what());
    }
    status.finish();

    const AudioStats masterStats = file.masterStats.value_or(AudioStats{});
    const int passes = masterPass && masterPass->pipeline ? masterPass->pipeline->passes : 0;
    const double gainDB = masterPass && masterPass->pipeline
                              ? 20.0 * std::log10(static_cast<double>(masterPass->pipeline->totalGain))
                              : std::nan("");
    const int bpm = detectTempo(options.input);
    // A target the chain cannot reach without clipping ends at the loudest clean result, and says so.
    const bool targetReached = !(masterPass && masterPass->pipeline) || masterPass->pipeline->targetReached;
    const EQSettings matched = EQManager::shared().eqSettings();
    if (options.json) {
        nlohmann::ordered_json object = {{"input", statsJson(*inputStats)},
                                         {"output", statsJson(masterStats)},
                                         {"bpm", bpm},
                                         {"passes", passes},
                                         {"gain_db", jsonNumber(gainDB)},
                                         {"target_reached", targetReached},
                                         {"output_path", fs::absolute(output).string()}};
        if (withReference) {
            object["final"] = statsJson(file.finalStats.value_or(AudioStats{}));
            nlohmann::ordered_json gains = nlohmann::ordered_json::array();
            for (const EQBand& band : matched.bands) gains.push_back(jsonNumber(band.gain));
            object["matched_eq"] = gains;
            object["match_strength"] = jsonNumber(ReferenceTrackManager::shared().matchStrength());
            nlohmann::ordered_json curve = nlohmann::ordered_json::array();
            for (const EQBand& band : matched.bands)
                curve.push_back({{"frequency_hz", jsonNumber(band.frequency)}, {"gain_db", jsonNumber(band.gain)}});
            object["eq_curve"] = curve;
        }
        printJson(object);
    } else {
        char gainText[32];
        std::snprintf(gainText, sizeof gainText, "%+.1f dB", gainDB);
        std::cout << "Input:  " << levelsLine(*inputStats) << '\n'
                  << "Output: " << levelsLine(masterStats) << '\n';
        if (withReference) {
            std::cout << "Final:  " << levelsLine(file.finalStats.value_or(AudioStats{})) << '\n'
                      << "Match:  " << matchStrengthLabel(ReferenceTrackManager::shared().matchStrength()) << '\n';
        }
        std::cout << "Tempo:  " << bpm << " BPM\n"
                  << "Passes: " << passes << " (gain " << gainText << ")\n";
        if (!targetReached) {
            std::cout << "Note:   the target of " << formatLevel(options.targetLoudness, "LUFS")
                      << " would need clipping; this is the loudest clean result\n";
        }
        std::cout << "Saved:  " << output.string() << std::endl;
    }
    return exitSuccess;
}

} // namespace orvanta::cli
