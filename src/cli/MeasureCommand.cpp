#include "cli/MeasureCommand.h"

#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "engine/LoudnessMeter.h"
#include "engine/TempoDetector.h"
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
    try {
        stats = analyzeAudioFile(file);
    } catch (const Error& error) {
        printError(file, describeForUser(error));
        return exitFailure;
    }
    const int bpm = detectTempo(file);

    if (json) {
        printJson({{"lufs", jsonNumber(stats.lufs)},
                   {"peak", jsonNumber(stats.peak)},
                   {"true_peak", jsonNumber(stats.truePeak)},
                   {"rms", jsonNumber(stats.rms)},
                   {"bpm", bpm}});
    } else {
        std::cout << "File:  " << file.string() << '\n'
                  << "LUFS:  " << formatLevel(stats.lufs, "LUFS") << '\n'
                  << "Peak:  " << formatLevel(stats.peak, "dBFS") << '\n'
                  << "True peak: " << formatLevel(stats.truePeak, "dBTP") << '\n'
                  << "RMS:   " << formatLevel(stats.rms, "dB") << '\n'
                  << "Tempo: " << bpm << " BPM" << std::endl;
    }
    return exitSuccess;
}

} // namespace orvanta::cli
