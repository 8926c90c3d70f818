#include "cli/MeasureCommand.h"

#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "cli/StreamingReport.h"
#include "engine/Bs1770Meter.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "engine/TempoDetector.h"
#include "platform/AudioFileFacts.h"
#include "platform/Error.h"

#include <iostream>

namespace orvanta::cli {

int runMeasureCommand(const std::vector<std::string>& args) {
    Arguments arguments(args);
    const bool json = arguments.takeFlag("--json");
    const std::filesystem::path file = arguments.positionals(1).front();
    if (const auto problem = inputProblem(file)) {
        printError(file, *problem);
        return exitFailure;
    }

    AudioStats stats;
    std::optional<std::string> truncated; // a cut file is measured as far as it goes, and says so
    try {
        truncated = truncationNote(readAudioFileFacts(file));
        stats = analyzeAudioFile(file);
    } catch (const Error& error) {
        printError(file, describeForUser(error));
        return exitFailure;
    }
    const int bpm = detectTempo(file);

    // Audio too short or too quiet for a loudness block has no figures worth a unit: each reads as
    // the reason instead (null in JSON, with the reason beside them).
    const char* unmeasured = unmeasuredLabel(stats.measurability);
    const bool measured = *unmeasured == '\0';
    const auto figure = [&](double value, const char* unit) {
        return measured ? formatLevel(value, unit) : std::string(unmeasured);
    };
    const auto number = [&](double value) { return measured ? jsonNumber(value) : nlohmann::ordered_json(); };
    if (json) {
        nlohmann::ordered_json object = {{"lufs", number(stats.lufs)},
                                         {"lufs_bs1770", number(bs1770Loudness(stats.lufs))},
                                         {"peak", number(stats.peak)},
                                         {"true_peak", number(stats.truePeak)},
                                         {"rms", number(stats.rms)},
                                         {"bpm", measured ? nlohmann::ordered_json(bpm) : nlohmann::ordered_json()}};
        if (!measured) object["unmeasured"] = unmeasured;
        object["streaming"] = streamingJson(stats);
        if (truncated) object["notes"] = nlohmann::ordered_json::array({*truncated});
        printJson(object);
    } else {
        std::cout << "File:  " << file.string() << '\n'
                  << "LUFS:  " << figure(stats.lufs, "LUFS")
                  << (measured ? " (" + formatLevel(bs1770Loudness(stats.lufs), "LUFS") + " on BS.1770)" : "") << '\n'
                  << "Peak:  " << figure(stats.peak, "dBFS") << '\n'
                  << "True peak: " << figure(stats.truePeak, "dBTP") << '\n'
                  << "RMS:   " << figure(stats.rms, "dB") << '\n'
                  << "Tempo: " << (measured ? std::to_string(bpm) + " BPM" : std::string(unmeasured)) << '\n';
        if (truncated) std::cout << "Note:  " << *truncated << '\n';
        std::cout << std::flush;
    }
    return exitSuccess;
}

} // namespace orvanta::cli
