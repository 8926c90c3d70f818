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

// One master run of the command line: masters the input and writes the result to `output`, filling
// `report`. Everything of the run lives in its own temporary folder, which is gone when the run is,
// before anything is printed on stdout. A reference with nothing to match is named on stderr and the
// song is mastered without it; `output`, when it was not chosen, then becomes the master's name. The
// core runs on this thread; a signal cancels it at its next check.
class MasterRun {
public:
    MasterRun(const MasterOptions& options, const PreferenceStore& preferences, ExportFormat format, fs::path& output,
              MasterReport& report)
        : options_(options), preferences_(preferences), format_(format), output_(output), report_(report),
          withReference_(options.reference.has_value()) {}

    // Returns the exit status.
    int run() {
        if (const auto failed = loadReference()) return *failed;
        if (wasInterrupted()) return fail(options_.input, "cancelled");
        std::optional<std::string> truncated;
        try {
            truncated = truncationNote(readAudioFileFacts(options_.input));
        } catch (const std::exception& failure) {
            return fail(options_.input, failureText(failure));
        }
        MasteringOptions run = masteringOptions();
        MasteredFile master;
        try {
            master = masterFile(run);
        } catch (const Error& error) {
            // Input the meter cannot measure is the file's fault, not a failure of the run: its reason alone.
            if (error.is(engineDomain, engine_error::unmeasurable)) return fail(options_.input, error.description());
            return fail(options_.input, describeForUser(error));
        } catch (const std::exception& failure) {
            return fail(options_.input, failureText(failure));
        }
        if (wasInterrupted()) return fail(options_.input, "mastering failed");
        MasteredFile published = master;

        if (withReference_) {
            run.input = master.result.outputURL;
            run.pass = MasteringPass::referenceFinal;
            run.reference = reference_;
            try {
                published = masterFile(run);
            } catch (const std::exception& failure) {
                return fail(options_.input, "the reference pass failed: " + failureText(failure));
            }
            if (wasInterrupted()) return fail(options_.input, "the reference pass failed: unknown error");
        }
        if (const auto failed = publish(published)) return *failed;
        status_.finish();
        fillReport(master, published, truncated);
        return exitSuccess;
    }

private:
    int fail(const fs::path& file, const std::string& message) {
        status_.finish();
        if (wasInterrupted()) {
            printError(options_.input, cancelledText());
            return interruptedExitStatus();
        }
        printError(file, message);
        return exitFailure;
    }

    static std::string failureText(const std::exception& failure) { return describeForUser(errorFrom(failure)); }

    // Loads the reference's profile; a reference with nothing to match leaves the run without one.
    // Returns the exit status when the run cannot go on.
    std::optional<int> loadReference() {
        if (!withReference_) return std::nullopt;
        try {
            const DecodedInput decodedReference(*options_.reference); // read once by every measure of it
            const ReferenceAnalysis analysis = analyzeReferenceFile(*options_.reference);
            reference_ =
                referenceMatchOf(analysis.profile, effectiveMatchStrength(options_.matchStrength, preferences_));
        } catch (const Error& error) {
            if (!error.is(referenceTrackDomain, referenceUnmatchableCode))
                return fail(*options_.reference, "cannot load the reference: " + describeForUser(error));
            // Nothing to match against: the master alone is the result, named as a master.
            status_.finish();
            printError(*options_.reference, error.description() + "; mastering without the reference pass");
            withReference_ = false;
            if (!options_.output) {
                output_ = options_.input.parent_path() /
                          exportFileName(options_.input, false, std::string(fileExtension(format_)));
            }
            if (const auto replaced = outputReplacesInput(output_, options_.input, options_.reference)) {
                status_.finish();
                printError(output_, *replaced);
                return exitUsage;
            }
        } catch (const std::exception& error) {
            return fail(*options_.reference, std::string("cannot load the reference: ") + error.what());
        }
        return std::nullopt;
    }

    MasteringOptions masteringOptions() {
        MasteringOptions run;
        run.input = options_.input;
        run.targetLUFS = options_.targetLoudness;
        run.limitThreshold = options_.limitThreshold;
        run.format = format_;
        run.dither = options_.written.dither;
        run.sampleRate = options_.written.sampleRate;
        run.threads = options_.threads;
        run.fixedGainDb = options_.fixedGainDb;
        run.isCancelled = [] { return wasInterrupted(); };
        run.progress = [this](double fraction) { status_.showProgress(fraction); };
        // The input's figures are the master pass's own first measurement: the file is read for them once.
        run.events = [this](const MasteringEvent& event) {
            if (event.kind == MasteringEventKind::inputMeasured) report_.input = event.stats;
            narrate(event, status_);
        };
        return run;
    }

    // Puts the result at `output`. Returns the exit status when that fails.
    std::optional<int> publish(const MasteredFile& published) {
        // A file named .flac always holds FLAC, one named .m4a M4A: the 24-bit WAV kept when a conversion
        // fails is no result.
        if (format_ != ExportFormat::wav && published.conversionFailed) {
            const std::string why =
                published.conversionError ? describeForUser(*published.conversionError) : "unknown error";
            return fail(output_, "cannot write the " + fileKindName(format_) + ": " + why);
        }
        try {
            // The result lies in this run's own folder, which goes at the end: it is moved, not copied.
            const fs::path& result = published.result.outputURL;
            const bool runsOwn = result.parent_path() == workFolder_.path();
            const auto interrupted = [] { return wasInterrupted(); };
            if (!(runsOwn ? publishFileConsuming(result, output_, interrupted)
                          : publishFile(result, output_, interrupted)))
                return fail(output_, "cancelled");
        } catch (const Error& error) {
            return fail(output_, describeForUser(error));
        }
        return std::nullopt;
    }

    void fillReport(const MasteredFile& master, const MasteredFile& published,
                    const std::optional<std::string>& truncated) {
        report_.output = master.result.stats;
        if (withReference_) {
            report_.final = published.result.stats;
            report_.matched = published.matchedEQ.value_or(EQSettings{});
            report_.matchStrength = reference_->strengthPercent;
        }
        if (master.pipeline) {
            report_.passes = master.pipeline->passes;
            report_.gainDB = 20.0 * std::log10(static_cast<double>(master.pipeline->totalGain));
            // A target the chain cannot reach without clipping ends at the loudest clean result, and says so.
            report_.targetReached = master.pipeline->targetReached;
            report_.reduction = master.pipeline->gainReduction;
            report_.gainLimitDb = master.pipeline->gainLimitDb;
            report_.softClipMaxDb = master.pipeline->softClipMaxDb;
        }
        report_.encoding = published.encoding;
        // What the user should know about the input comes first: a cut file is mastered as far as it goes.
        if (truncated) report_.notes.push_back(*truncated);
        if (report_.gainLimitDb) report_.notes.push_back(gainLimitText(options_.targetLoudness, *report_.gainLimitDb));
        report_.notes.insert(report_.notes.end(), published.notes.begin(), published.notes.end());
    }

    const MasterOptions& options_;
    const PreferenceStore& preferences_;
    const ExportFormat format_;
    fs::path& output_;
    MasterReport& report_;
    bool withReference_;
    const RunTemporaryDirectory workFolder_; // made first, removed last
    TerminalStatus status_;
    std::optional<ReferenceMatch> reference_;
};

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
    const int status = MasterRun(options, preferences, format, output, report).run();
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
