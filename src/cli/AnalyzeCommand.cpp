#include "cli/AnalyzeCommand.h"

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/CorrectionPlan.h"
#include "analyzer/PerceptualScores.h"
#include "analyzer/TruePeakUpdate.h"
#include "batch/ExportFormat.h"
#include "batch/ExportNaming.h"
#include "batch/MasterFile.h"
#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "cli/InterruptFlag.h"
#include "cli/OutputChoice.h"
#include "cli/RunTemporaryDirectory.h"
#include "eq/ReferenceSpectrum.h"
#include "platform/PreferenceStore.h"
#include "platform/AudioFileFacts.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/OutputDestination.h"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

struct AnalyzeOptions {
    fs::path input;
    bool json = false;
    bool repair = false;
    std::optional<fs::path> output;
    std::optional<ExportFormat> format;
};

AnalyzeOptions parseOptions(const std::vector<std::string>& args) {
    Arguments arguments(args);
    AnalyzeOptions options;
    options.json = arguments.takeFlag("--json");
    options.repair = arguments.takeFlag("--repair");
    if (const auto output = arguments.takeOption("-o")) options.output = fs::path(*output);
    options.format = takeFormatOption(arguments);
    if (!options.repair && (options.output || options.format)) throw UsageError("-o and --format need --repair");
    options.input = arguments.positionals(1).front();
    return options;
}

int wholeNumber(double value) { return std::isfinite(value) ? static_cast<int>(std::lround(value)) : 0; }

std::string oneDecimal(double value) {
    if (!std::isfinite(value)) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string percent(double fraction) { return std::to_string(wholeNumber(fraction * 100.0)) + "%"; }

nlohmann::ordered_json resultJson(const AudioAnalysisResult& result) {
    const auto& d = result.analysisDetails;
    const auto& b = d.spectralBalance;
    const auto& s = result.spectrogramData;
    return {
        {"overallScore", jsonNumber(result.overallScore)},
        {"warmth", jsonNumber(result.warmth)},
        {"clarity", jsonNumber(result.clarity)},
        {"dynamics", jsonNumber(result.dynamics)},
        {"spaciousness", jsonNumber(result.spaciousness)},
        {"macBookScore", jsonNumber(result.macBookScore)},
        {"paSystemScore", jsonNumber(result.paSystemScore)},
        {"verdictLabel", AudioAnalyzer::verdictLabel(result.overallScore)},
        {"verdictSentence", AudioAnalyzer::verdictSentence(result.overallScore)},
        {"analysisDetails",
         {{"sampleRate", jsonNumber(d.sampleRate)},
          {"duration", jsonNumber(d.duration)},
          {"channels", d.channels},
          {"peakLevel", jsonNumber(d.peakLevel)},
          {"rmsLevel", jsonNumber(d.rmsLevel)},
          {"lufsIntegrated", jsonNumber(d.lufsIntegrated)},
          {"lufsMomentaryMax", jsonNumber(d.lufsMomentaryMax)},
          {"lufsShortTermMax", jsonNumber(d.lufsShortTermMax)},
          {"truePeakLevel", jsonNumber(d.truePeakLevel)},
          {"truePeakDB", jsonNumber(d.truePeakDB)},
          {"clippingCount", d.clippingCount},
          {"clippingPercent", jsonNumber(d.clippingPercent)},
          {"midEnergyRatio", jsonNumber(d.midEnergyRatio)},
          {"sideEnergyRatio", jsonNumber(d.sideEnergyRatio)},
          {"stereoWidth", jsonNumber(d.stereoWidth)},
          {"recommendedUseCase", d.recommendedUseCase},
          {"recommendedTargetLUFS", jsonNumber(d.recommendedTargetLUFS)},
          {"recommendationNote", d.recommendationNote},
          {"spectralBalance",
           {{"subBass", jsonNumber(b.subBass)},
            {"bass", jsonNumber(b.bass)},
            {"lowMid", jsonNumber(b.lowMid)},
            {"mid", jsonNumber(b.mid)},
            {"highMid", jsonNumber(b.highMid)}}}}},
        {"spectrogramData",
         {{"timeBinCount", s.timeBins.size()},
          {"frequencyBinCount", s.frequencyBins.size()},
          {"minDB", jsonNumber(s.minDB)},
          {"maxDB", jsonNumber(s.maxDB)}}},
    };
}

void printResult(const fs::path& file, const AudioAnalysisResult& result) {
    const auto& d = result.analysisDetails;
    const auto& b = d.spectralBalance;
    std::cout << "File:       " << file.string() << '\n'
              << "Score:      " << wholeNumber(result.overallScore) << " " << AudioAnalyzer::verdictLabel(result.overallScore) << " - "
              << AudioAnalyzer::verdictSentence(result.overallScore) << '\n'
              << "Laptop:     " << percent(result.macBookScore) << '\n'
              << "PA System:  " << percent(result.paSystemScore) << '\n'
              << "Warmth:     " << percent(result.warmth) << '\n'
              << "Clarity:    " << percent(result.clarity) << '\n'
              << "Dynamics:   " << percent(result.dynamics) << '\n'
              << "Space:      " << percent(result.spaciousness) << '\n'
              << "Best for:   " << d.recommendedUseCase << " (" << formatLevel(d.recommendedTargetLUFS, "LUFS") << ")\n"
              << "Note:       " << d.recommendationNote << '\n'
              << "LUFS:       " << oneDecimal(d.lufsIntegrated) << '\n'
              << "TRUE PEAK:  " << oneDecimal(d.truePeakDB) << '\n'
              << "SHORT TERM: " << oneDecimal(d.lufsShortTermMax) << '\n'
              << "Balance:    sub-bass " << percent(b.subBass) << ", bass " << percent(b.bass) << ", low-mid "
              << percent(b.lowMid) << ", mid " << percent(b.mid) << ", high-mid " << percent(b.highMid) << '\n';
}

// Renders the plan's correction, masters it and copies the master to `output`, on this thread; a
// signal cancels the run at its next check. Returns the exit status.
int repair(const AnalyzeOptions& options, const AnalyzerPlan& plan, ExportFormat format, const fs::path& output) {
    catchInterrupts();
    const RunTemporaryDirectory workFolder;
    const auto fail = [&](const fs::path& file, const std::string& message) {
        if (wasInterrupted()) {
            printError(options.input, cancelledText());
            return interruptedExitStatus();
        }
        printError(file, message);
        return exitFailure;
    };
    const auto failureText = [](const std::exception& failure) { return describeForUser(errorFrom(failure)); };

    try {
        const AudioFileReader reader(options.input);
    } catch (const std::exception& failure) {
        return fail(options.input, failureText(failure));
    }
    if (wasInterrupted()) return fail(options.input, "cancelled");
    MasteringOptions run;
    run.input = options.input;
    run.pass = MasteringPass::correctedMaster;
    run.plan = plan;
    run.targetLUFS = plan.settings.targetLUFS;
    run.limitThreshold = plan.settings.limitThreshold;
    run.format = format;
    run.isCancelled = [] { return wasInterrupted(); };
    MasteredFile pass;
    try {
        pass = masterFile(run);
    } catch (const std::exception& failure) {
        return fail(options.input, "the correction failed: " + failureText(failure));
    }
    if (wasInterrupted()) return fail(options.input, "the correction failed: unknown error");
    // A file named .m4a always holds M4A: the WAV kept when encoding fails is no result.
    if (isLossy(format) && pass.conversionFailed) {
        return fail(output, "cannot write the " + std::string(rawValue(format)) + ": " +
                                (pass.conversionError ? describeForUser(*pass.conversionError) : "unknown error"));
    }
    try {
        if (!publishFile(pass.result.outputURL, output, [] { return wasInterrupted(); })) return fail(output, "cancelled");
    } catch (const Error& error) {
        return fail(output, describeForUser(error));
    }
    return exitSuccess;
}

} // namespace

int runAnalyzeCommand(const std::vector<std::string>& args, const PreferenceStore& preferences) {
    const AnalyzeOptions options = parseOptions(args);
    const ExportFormat format = chooseExportFormat(options.format, options.output, preferences);
    const fs::path output = options.output.value_or(
        options.input.parent_path() / exportFileName(options.input, false, std::string(fileExtension(format))));
    if (options.repair) {
        if (const auto replaced = outputReplacesInput(output, options.input, std::nullopt)) {
            printError(output, *replaced);
            return exitUsage;
        }
    }
    if (const auto problem = inputProblem(options.input)) {
        printError(options.input, *problem);
        return exitFailure;
    }
    if (options.repair) {
        try {
            checkOutputDestination(output);
        } catch (const Error& error) {
            printError(output, describeForUser(error));
            return exitFailure;
        }
    }
    std::optional<ReportOnStandardError> reportElsewhere;
    if (options.repair && isStandardOutput(output)) reportElsewhere.emplace();

    AudioAnalysisResult result;
    std::optional<std::string> truncated; // a cut file is analysed as far as it goes, and says so
    try {
        truncated = truncationNote(readAudioFileFacts(options.input));
        result = AudioAnalyzer::analyzeFileWithPeak(options.input);
    } catch (const Error& error) {
        printError(options.input, describeForUser(error));
        return exitFailure;
    } catch (const std::exception& error) {
        printError(options.input, error.what());
        return exitFailure;
    }

    std::optional<AnalyzerPlan> plan;
    if (options.repair) {
        try {
            const BandLevels levels = compute12BandSpectrum(options.input);
            const auto& d = result.analysisDetails;
            plan = makePlan(result, std::vector<float>(levels.begin(), levels.end()),
                            static_cast<float>(d.lufsIntegrated), static_cast<float>(d.peakLevel),
                            static_cast<float>(d.rmsLevel), preferences);
        } catch (const std::exception& error) {
            printError(options.input, std::string("cannot build the correction plan: ") + error.what());
            return exitFailure;
        }
        const int status = repair(options, *plan, format, output);
        if (status != exitSuccess) return status;
    }

    if (options.json) {
        nlohmann::ordered_json object = resultJson(result);
        if (truncated) object["notes"] = nlohmann::ordered_json::array({*truncated});
        if (plan) {
            object["repair"] = {{"notes", plan->report.notes},
                                {"targetLUFS", jsonNumber(plan->settings.targetLUFS)},
                                {"limitThreshold", jsonNumber(plan->settings.limitThreshold)},
                                {"output_path", fs::absolute(output).string()}};
        }
        printJson(object);
    } else {
        printResult(options.input, result);
        if (truncated) std::cout << "Input:      " << *truncated << '\n';
        if (plan) {
            std::cout << "Plan:\n";
            for (const std::string& note : plan->report.notes) std::cout << "  " << note << '\n';
            std::cout << "Saved:      " << output.string() << '\n';
        }
        std::cout << std::flush;
    }
    // A signal after the corrected master was in place did not cancel it; the status still says so.
    if (plan && wasInterrupted()) return interruptedExitStatus();
    return exitSuccess;
}

} // namespace orvanta::cli
