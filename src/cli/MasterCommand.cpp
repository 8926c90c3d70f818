#include "cli/MasterCommand.h"

#include "batch/BatchProcessor.h"
#include "batch/ExportNaming.h"
#include "cli/CliOutput.h"
#include "cli/CancelOnInterrupt.h"
#include "cli/EventLoop.h"
#include "cli/FailureText.h"
#include "cli/InterruptFlag.h"
#include "batch/MasteringPresets.h"
#include "cli/OutputChoice.h"
#include "cli/RunTemporaryDirectory.h"
#include "cli/TerminalStatus.h"
#include "engine/ProcessingErrors.h"
#include "engine/ProcessingStatusManager.h"
#include "engine/SettingRanges.h"
#include "engine/TempoDetector.h"
#include "eq/EQManager.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"
#include "eq/ReferenceTrackManager.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/OutputDestination.h"
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
    if (const auto target = arguments.takeOption("--target")) {
        options.targetLoudness = static_cast<float>(parseNumberInRange(
            "--target", *target, targetLoudnessRange.minimum, targetLoudnessRange.maximum, "LUFS"));
    }
    if (const auto ceiling = arguments.takeOption("--ceiling")) {
        options.limitThreshold = static_cast<float>(parseNumberInRange(
            "--ceiling", *ceiling, limitThresholdRange.minimum, limitThresholdRange.maximum, "dBFS"));
    }
    if (const auto reference = arguments.takeOption("--reference")) options.reference = fs::path(*reference);
    if (const auto amount = arguments.takeOption("--match-amount")) {
        options.matchStrength = matchStrengthNamed(*amount);
        if (!options.matchStrength) options.matchStrength = static_cast<float>(parseNumber("--match-amount", *amount));
        if (!isValidMatchStrength(*options.matchStrength))
            throw UsageError("--match-amount takes a percentage from 0 to 100 (or Gentle, Medium, Full)");
        if (!options.reference) throw UsageError("--match-amount needs --reference");
    }
    options.format = takeFormatOption(arguments);
    options.input = arguments.positionals(1).front();
    return options;
}

// What a finished run prints.
struct MasterReport {
    AudioStats input;
    AudioStats output;
    std::optional<AudioStats> final;
    int passes = 0;
    double gainDB = std::nan("");
    bool targetReached = true;
    EQSettings matched;
    float matchStrength = 0.0f; // percent
    std::vector<std::string> notes;
};

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

// The processor's own account of a failure, or `fallback` when it has none.
std::string failureOf(const BatchProcessor& processor, const std::string& fallback) {
    return processor.lastError() ? describeForUser(*processor.lastError()) : fallback;
}

// Masters the input and writes the result to `output`, filling `report`. Everything of the run lives
// in its own temporary folder, which is gone when this returns, before anything is printed on
// stdout. A reference with nothing to match is named on stderr and the song is mastered without it;
// `output`, when it was not chosen, then becomes the master's name. Returns the exit status.
int masterInto(const MasterOptions& options, ExportFormat format, fs::path& output, MasterReport& report) {
    bool withReference = options.reference.has_value();
    const RunTemporaryDirectory workFolder; // outlives the processor, whose tasks write there
    const StoredReferenceKeeper storedReference;
    TerminalStatus status;
    BatchProcessor processor;
    processor.setExportFormatOverride(format);
    processor.setLogsConversionFailures(false); // a failed M4A is this run's one error line
    const RunMonitor monitor(processor, status);
    const CancelOnInterrupt cancelOnInterrupt(processor);
    const auto fail = [&](const fs::path& file, const std::string& message) {
        status.finish();
        if (wasInterrupted()) {
            printError(options.input, cancelledText());
            return interruptedExitStatus();
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
                return fail(*options.reference, "cannot load the reference: " + describeForUser(error));
            // Nothing to match against: the master alone is the result, named as a master.
            status.finish();
            printError(*options.reference, error.description() + "; mastering without the reference pass");
            withReference = false;
            if (!options.output) {
                output = options.input.parent_path() /
                         exportFileName(options.input, false, std::string(fileExtension(format)));
            }
            if (isSameFile(options.input, output)) {
                return fail(output, "the output would replace the input; choose another name with -o");
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
    // A signal before the pass started: a pass resets the processor's cancellation, so stop here.
    if (wasInterrupted()) return fail(options.input, "cancelled");
    if (!loaded) return fail(options.input, failureOf(processor, "cannot open as audio"));
    if (!processor.currentFile()->originalStats) {
        return fail(options.input, "cannot measure the input: " + failureOf(processor, "unknown error"));
    }
    report.input = *processor.currentFile()->originalStats;
    if (report.input.measurability != Measurability::measurable)
        return fail(options.input, unmeasurableAudioError(report.input.measurability).description());

    waitFor(processor.processCurrentFile(options.presetName, false, options.targetLoudness, options.limitThreshold));
    if (wasInterrupted() || !completed(processor)) return fail(options.input, failureOf(processor, "mastering failed"));
    std::optional<BatchPassRecord> published = processor.lastPass();
    const std::optional<BatchPassRecord> masterPass = published;

    if (withReference) {
        // As the window does: the final pair cleared and the entry pending before the reference pass.
        AudioFile entry = *processor.currentFile();
        entry.finalURL.reset();
        entry.finalStats.reset();
        entry.processingStatus = AudioFile::ProcessingStatus::pending;
        processor.setCurrentFile(entry);
        waitFor(processor.processCurrentFile(options.presetName, true, options.targetLoudness, options.limitThreshold));
        if (wasInterrupted() || !completed(processor) || !processor.currentFile()->finalURL)
            return fail(options.input, "the reference pass failed: " + failureOf(processor, "unknown error"));
        published = processor.lastPass();
    }
    // A file named .m4a always holds M4A: the WAV the processor keeps when encoding fails is no result.
    if (format == ExportFormat::m4a && published && published->conversionFailed) {
        const std::string why = published->conversionError ? describeForUser(*published->conversionError) : "unknown error";
        return fail(output, "cannot write the M4A: " + why);
    }

    const AudioFile& file = *processor.currentFile();
    const fs::path result = withReference ? *file.finalURL : *file.masterURL;
    try {
        if (!publishFile(result, output, [] { return wasInterrupted(); })) return fail(output, "cancelled");
    } catch (const Error& error) {
        return fail(output, describeForUser(error));
    }
    status.finish();

    report.output = file.masterStats.value_or(AudioStats{});
    if (withReference) report.final = file.finalStats.value_or(AudioStats{});
    if (masterPass && masterPass->pipeline) {
        report.passes = masterPass->pipeline->passes;
        report.gainDB = 20.0 * std::log10(static_cast<double>(masterPass->pipeline->totalGain));
        // A target the chain cannot reach without clipping ends at the loudest clean result, and says so.
        report.targetReached = masterPass->pipeline->targetReached;
    }
    report.matched = EQManager::shared().eqSettings();
    report.matchStrength = ReferenceTrackManager::shared().matchStrength();
    if (published) report.notes = published->notes;
    return exitSuccess;
}

void printReport(const MasterOptions& options, const fs::path& output, const MasterReport& report, int bpm) {
    if (options.json) {
        nlohmann::ordered_json object = {{"input", statsJson(report.input)},
                                         {"output", statsJson(report.output)},
                                         {"bpm", bpm},
                                         {"passes", report.passes},
                                         {"gain_db", jsonNumber(report.gainDB)},
                                         {"target_reached", report.targetReached},
                                         {"output_path", fs::absolute(output).string()}};
        if (report.final) {
            object["final"] = statsJson(*report.final);
            nlohmann::ordered_json gains = nlohmann::ordered_json::array();
            for (const EQBand& band : report.matched.bands) gains.push_back(jsonNumber(band.gain));
            object["matched_eq"] = gains;
            object["match_strength"] = jsonNumber(report.matchStrength);
            nlohmann::ordered_json curve = nlohmann::ordered_json::array();
            for (const EQBand& band : report.matched.bands)
                curve.push_back({{"frequency_hz", jsonNumber(band.frequency)}, {"gain_db", jsonNumber(band.gain)}});
            object["eq_curve"] = curve;
        }
        if (!report.notes.empty()) object["notes"] = report.notes;
        printJson(object);
        return;
    }
    char gainText[32];
    std::snprintf(gainText, sizeof gainText, "%+.1f dB", report.gainDB);
    std::cout << "Input:  " << levelsLine(report.input) << '\n' << "Output: " << levelsLine(report.output) << '\n';
    if (report.final) {
        std::cout << "Final:  " << levelsLine(*report.final) << '\n'
                  << "Match:  " << matchStrengthLabel(report.matchStrength) << '\n';
    }
    std::cout << "Tempo:  " << bpm << " BPM\n"
              << "Passes: " << report.passes << " (gain " << gainText << ")\n";
    if (!report.targetReached) {
        std::cout << "Note:   the target of " << formatLevel(options.targetLoudness, "LUFS")
                  << " would need clipping; this is the loudest clean result\n";
    }
    for (const std::string& note : report.notes) std::cout << "Note:   " << note << '\n';
    std::cout << "Saved:  " << output.string() << std::endl;
}

} // namespace

int runMasterCommand(const std::vector<std::string>& args) {
    const MasterOptions options = parseOptions(args);
    const ExportFormat format = chooseExportFormat(options.format, options.output);
    const bool withReference = options.reference.has_value();
    fs::path output =
        options.output.value_or(options.input.parent_path() /
                                exportFileName(options.input, withReference, std::string(fileExtension(format))));
    if (isSameFile(options.input, output)) {
        printError(output, "the output would replace the input; choose another name with -o");
        return exitFailure;
    }
    // Everything that can be checked before the work starts is checked here: a run of minutes
    // should not end in "no such folder".
    if (const auto problem = inputProblem(options.input)) {
        printError(options.input, *problem);
        return exitFailure;
    }
    if (withReference) {
        if (const auto problem = inputProblem(*options.reference)) {
            printError(*options.reference, *problem);
            return exitFailure;
        }
    }
    try {
        checkOutputDestination(output);
    } catch (const Error& error) {
        printError(output, describeForUser(error) + (options.output ? "" : "; name the output with -o"));
        return exitFailure;
    }

    ensureApplication();
    catchInterrupts();
    MasterReport report;
    const int status = masterInto(options, format, output, report);
    if (status != exitSuccess) return status;
    const int bpm = detectTempo(options.input);
    printReport(options, output, report, bpm);
    // The output is in place; a signal that came after that point did not cancel it, but the status
    // still tells that one came (a closed pipe took the report).
    if (wasInterrupted()) return interruptedExitStatus();
    if (!std::cout) {
        printError("could not write the report to standard output");
        return exitFailure;
    }
    return exitSuccess;
}

} // namespace orvanta::cli
