#include "cli/MasterCommand.h"

#include "batch/ExportNaming.h"
#include "batch/MasterFile.h"
#include "batch/MasteringPresets.h"
#include "batch/StatusNarration.h"
#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "cli/InterruptFlag.h"
#include "cli/OutputChoice.h"
#include "cli/RunTemporaryDirectory.h"
#include "cli/StreamingReport.h"
#include "cli/TerminalStatus.h"
#include "engine/Bs1770Meter.h"
#include "engine/GainReductionEnvelope.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "engine/SettingRanges.h"
#include "engine/TempoDetector.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceSpectrum.h"
#include "platform/AudioFileFacts.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/DecodedInput.h"
#include "platform/OutputDestination.h"
#include "platform/PreferenceStore.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

// A gain of --gain: wide enough for any album's quietest song, no wider than the chain can take.
constexpr struct {
    double minimum;
    double maximum;
} fixedGainRange{-40.0, 60.0};

struct MasterOptions {
    fs::path input;
    std::optional<fs::path> output;
    std::string presetName;
    float targetLoudness = 0.0f;
    float limitThreshold = 0.0f;
    std::optional<fs::path> reference;
    std::optional<float> matchStrength; // percent; the stored choice when absent
    OutputRequest written; // --format, --bits, --rate, --noise-shaping
    std::optional<float> fixedGainDb; // --gain: this gain through the chain instead of seeking the target
    bool json = false;
    WorkThreads threads = WorkThreads::pipelined;
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
    if (const auto gain = arguments.takeOption("--gain")) {
        options.fixedGainDb = static_cast<float>(
            parseNumberInRange("--gain", *gain, fixedGainRange.minimum, fixedGainRange.maximum, "dB"));
    }
    options.written = takeOutputRequest(arguments);
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
    std::optional<float> gainLimitDb; // the bound that kept the target out of reach, dB
    GainReductionEnvelope reduction; // of the pass that made the master
    float softClipMaxDb = 0.0f;      // the soft clipper's largest peak reduction in it, dB
    std::optional<LossyEncodingReport> encoding;
    EQSettings matched;
    float matchStrength = 0.0f; // percent
    std::vector<std::string> notes;
};

// The limiter's work on the master: its largest and average reduction and the envelope over time, one
// value per bucket, to a hundredth of a decibel (a plot needs no more, and the line stays short).
nlohmann::ordered_json reductionJson(const GainReductionEnvelope& reduction) {
    nlohmann::ordered_json envelope = nlohmann::ordered_json::array();
    for (float db : reduction.reductionDb) envelope.push_back(std::round(double(db) * 100.0) / 100.0);
    return {{"largest_db", jsonNumber(reduction.maximumDb)},
            {"average_db", jsonNumber(reduction.averageDb)},
            {"bucket_seconds", jsonNumber(reduction.bucketSeconds)},
            {"envelope_db", std::move(envelope)}};
}

nlohmann::ordered_json statsJson(const AudioStats& stats) {
    return {{"lufs", jsonNumber(stats.lufs)},
            {"lufs_bs1770", jsonNumber(bs1770Loudness(stats.lufs))},
            {"peak", jsonNumber(stats.peak)},
            {"true_peak", jsonNumber(stats.truePeak)},
            {"rms", jsonNumber(stats.rms)}};
}

std::string levelsLine(const AudioStats& stats) {
    return formatLevel(stats.lufs, "LUFS") + ", peak " + formatLevel(stats.peak, "dBFS") + ", true peak " +
           formatLevel(stats.truePeak, "dBTP") + ", RMS " + formatLevel(stats.rms, "dB");
}

// The match strength of a run: the one asked for, else the user's stored choice, else Gentle.
float effectiveMatchStrength(const std::optional<float>& asked, const PreferenceStore& preferences) {
    if (asked) return *asked;
    const std::optional<float> stored = preferences.floatValue(matchStrengthKey);
    return stored && isValidMatchStrength(*stored) ? *stored : gentleMatchStrength;
}

// Masters the input and writes the result to `output`, filling `report`. Everything of the run lives
// in its own temporary folder, which is gone when this returns, before anything is printed on
// stdout. A reference with nothing to match is named on stderr and the song is mastered without it;
// `output`, when it was not chosen, then becomes the master's name. The core runs on this thread;
// a signal cancels it at its next check. Returns the exit status.
int masterInto(const MasterOptions& options, const PreferenceStore& preferences, ExportFormat format, fs::path& output,
               MasterReport& report) {
    bool withReference = options.reference.has_value();
    const RunTemporaryDirectory workFolder;
    TerminalStatus status;
    const auto fail = [&](const fs::path& file, const std::string& message) {
        status.finish();
        if (wasInterrupted()) {
            printError(options.input, cancelledText());
            return interruptedExitStatus();
        }
        printError(file, message);
        return exitFailure;
    };
    const auto failureText = [](const std::exception& failure) { return describeForUser(errorFrom(failure)); };

    std::optional<ReferenceMatch> reference;
    if (withReference) {
        try {
            const DecodedInput decodedReference(*options.reference); // read once by every measure of it
            const ReferenceAnalysis analysis = analyzeReferenceFile(*options.reference);
            reference = referenceMatchOf(analysis.profile, effectiveMatchStrength(options.matchStrength, preferences));
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
            if (const auto replaced = outputReplacesInput(output, options.input, options.reference)) {
                status.finish();
                printError(output, *replaced);
                return exitUsage;
            }
        } catch (const std::exception& error) {
            return fail(*options.reference, std::string("cannot load the reference: ") + error.what());
        }
    }
    if (wasInterrupted()) return fail(options.input, "cancelled");
    std::optional<std::string> truncated;
    try {
        truncated = truncationNote(readAudioFileFacts(options.input));
    } catch (const std::exception& failure) {
        return fail(options.input, failureText(failure));
    }
    MasteringOptions run;
    run.input = options.input;
    run.targetLUFS = options.targetLoudness;
    run.limitThreshold = options.limitThreshold;
    run.format = format;
    run.dither = options.written.dither;
    run.sampleRate = options.written.sampleRate;
    run.threads = options.threads;
    run.fixedGainDb = options.fixedGainDb;
    run.isCancelled = [] { return wasInterrupted(); };
    run.progress = [&status](double fraction) { status.showProgress(fraction); };
    // The input's figures are the master pass's own first measurement: the file is read for them once.
    run.events = [&status, &report](const MasteringEvent& event) {
        if (event.kind == MasteringEventKind::inputMeasured) report.input = event.stats;
        narrate(event, status);
    };

    MasteredFile master;
    try {
        master = masterFile(run);
    } catch (const Error& error) {
        // Input the meter cannot measure is the file's fault, not a failure of the run: its reason alone.
        if (error.is(engineDomain, engine_error::unmeasurable)) return fail(options.input, error.description());
        return fail(options.input, describeForUser(error));
    } catch (const std::exception& failure) {
        return fail(options.input, failureText(failure));
    }
    if (wasInterrupted()) return fail(options.input, "mastering failed");
    MasteredFile published = master;

    if (withReference) {
        run.input = master.result.outputURL;
        run.pass = MasteringPass::referenceFinal;
        run.reference = reference;
        try {
            published = masterFile(run);
        } catch (const std::exception& failure) {
            return fail(options.input, "the reference pass failed: " + failureText(failure));
        }
        if (wasInterrupted()) return fail(options.input, "the reference pass failed: unknown error");
    }
    // A file named .flac always holds FLAC, one named .m4a M4A: the 24-bit WAV kept when a conversion
    // fails is no result.
    if (format != ExportFormat::wav && published.conversionFailed) {
        const std::string why = published.conversionError ? describeForUser(*published.conversionError) : "unknown error";
        return fail(output, "cannot write the " + fileKindName(format) + ": " + why);
    }

    try {
        // The result lies in this run's own folder, which goes at the end: it is moved, not copied.
        const fs::path& result = published.result.outputURL;
        const bool runsOwn = result.parent_path() == workFolder.path();
        const auto interrupted = [] { return wasInterrupted(); };
        if (!(runsOwn ? publishFileConsuming(result, output, interrupted) : publishFile(result, output, interrupted)))
            return fail(output, "cancelled");
    } catch (const Error& error) {
        return fail(output, describeForUser(error));
    }
    status.finish();

    report.output = master.result.stats;
    if (withReference) {
        report.final = published.result.stats;
        report.matched = published.matchedEQ.value_or(EQSettings{});
        report.matchStrength = reference->strengthPercent;
    }
    if (master.pipeline) {
        report.passes = master.pipeline->passes;
        report.gainDB = 20.0 * std::log10(static_cast<double>(master.pipeline->totalGain));
        // A target the chain cannot reach without clipping ends at the loudest clean result, and says so.
        report.targetReached = master.pipeline->targetReached;
        report.reduction = master.pipeline->gainReduction;
        report.gainLimitDb = master.pipeline->gainLimitDb;
        report.softClipMaxDb = master.pipeline->softClipMaxDb;
    }
    report.encoding = published.encoding;
    // What the user should know about the input comes first: a cut file is mastered as far as it goes.
    if (truncated) report.notes.push_back(*truncated);
    if (report.gainLimitDb) report.notes.push_back(gainLimitText(options.targetLoudness, *report.gainLimitDb));
    report.notes.insert(report.notes.end(), published.notes.begin(), published.notes.end());
    return exitSuccess;
}

void printReport(const MasterOptions& options, const fs::path& output, const MasterReport& report, int bpm) {
    if (options.json) {
        nlohmann::ordered_json object = {{"input", statsJson(report.input)},
                                         {"output", statsJson(report.output)},
                                         {"bpm", bpm},
                                         {"passes", report.passes},
                                         {"gain_db", jsonNumber(report.gainDB)},
                                         {"target_reached", report.targetReached}};
        if (report.gainLimitDb) object["gain_limit_db"] = jsonNumber(*report.gainLimitDb);
        if (!report.reduction.empty()) object["gain_reduction"] = reductionJson(report.reduction);
        object["soft_clip_max_db"] = jsonNumber(std::round(double(report.softClipMaxDb) * 100.0) / 100.0);
        if (report.encoding) {
            object["encoding"] = {{"encodes", report.encoding->encodings},
                                  {"remasters", report.encoding->remasters},
                                  {"master_ceiling_db", jsonNumber(report.encoding->masterCeilingDb)}};
        }
        object["output_path"] = fs::absolute(output).string();
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
        object["streaming"] = streamingJson(report.final.value_or(report.output));
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
    if (!report.reduction.empty()) {
        std::cout << "Limit:  largest " << formatLevel(report.reduction.maximumDb, "dB") << ", average "
                  << formatLevel(report.reduction.averageDb, "dB") << " of gain reduction\n";
    }
    if (report.softClipMaxDb > 0.005f) {
        std::cout << "Clip:   the soft clipper took at most " << formatLevel(report.softClipMaxDb, "dB")
                  << " from a peak\n";
    }
    if (!report.targetReached && !report.gainLimitDb) {
        std::cout << "Note:   the target of " << formatLevel(options.targetLoudness, "LUFS")
                  << " would need clipping; this is the loudest clean result\n";
    }
    for (const std::string& note : report.notes) std::cout << "Note:   " << note << '\n';
    std::cout << streamingTable(report.final.value_or(report.output));
    std::cout << "Saved:  " << output.string() << std::endl;
}

} // namespace

int runMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences, WorkThreads threads) {
    MasterOptions options = parseOptions(args);
    options.threads = threads;
    const ExportFormat format = chooseExportFormat(options.written.format, options.output, preferences);
    checkRateFits(format, options.written.sampleRate);
    const bool withReference = options.reference.has_value();
    fs::path output =
        options.output.value_or(options.input.parent_path() /
                                exportFileName(options.input, withReference, std::string(fileExtension(format))));
    if (const auto replaced = outputReplacesInput(output, options.input, options.reference)) {
        printError(output, *replaced);
        return exitUsage;
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

    std::optional<ReportOnStandardError> reportElsewhere;
    if (isStandardOutput(output)) reportElsewhere.emplace();

    catchInterrupts();
    MasterReport report;
    const int status = masterInto(options, preferences, format, output, report);
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
