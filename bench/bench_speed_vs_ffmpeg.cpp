// Speed against a peer, side by side in one run on the same shared machine: a five-minute stereo
// 44.1 kHz song at −14 LUFS mastered to "Loud" end to end through AudioProcessor::processAudio (every
// pass it makes), and ffmpeg's two-pass loudnorm to the same target (pass 1 measures, pass 2 applies
// the measured values linearly and writes a 24-bit WAV). Rounds alternate between the two so that
// both see the same load; prints every round, the best and the median of each and their ratios. Beside the
// wall times, the CPU time (user + system) of each side: on a machine that other work keeps busy the
// wall times follow the load, the CPU times hardly. Exits 0 without figures when ffmpeg is missing.
// Arguments (bench.sh passes Google Benchmark's) are ignored.
#include "batch/AudioProcessor.h"
#include "batch/MasteringPresets.h"
#include "BenchSong.h"
#include "ProgramRun.h"
#include "support/AudioMeasures.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orvanta;
using bench::ffmpegAvailable;
using bench::ownCpuSeconds;
using bench::run;
using Clock = std::chrono::steady_clock;

constexpr int rounds = 5;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct FfmpegRun {
    double measureSeconds = 0.0;
    double applySeconds = 0.0;
    double cpuSeconds = 0.0;   // both passes, user + system
    std::string normalization; // "Linear" or "Dynamic", as loudnorm reports it
};

FfmpegRun loudnormTwoPass(const std::filesystem::path& input, const std::filesystem::path& output,
                          const MasteringPreset& preset, const std::filesystem::path& errorFile) {
    char targets[96];
    std::snprintf(targets, sizeof targets, "loudnorm=I=%.1f:TP=%.1f:LRA=11", preset.targetLoudness,
                  preset.limitThreshold);
    FfmpegRun result;
    auto start = Clock::now();
    const std::string report = run({"ffmpeg", "-hide_banner", "-nostdin", "-i", input.string(), "-af",
                                    std::string(targets) + ":print_format=json", "-f", "null", "-"},
                                   errorFile, &result.cpuSeconds);
    result.measureSeconds = secondsSince(start);

    const auto open = report.rfind('{');
    const auto close = report.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        throw std::runtime_error("loudnorm printed no measurement:\n" + report);
    }
    const auto measured = nlohmann::json::parse(report.substr(open, close - open + 1));
    const std::string apply = std::string(targets) + ":measured_I=" + measured.at("input_i").get<std::string>() +
                              ":measured_TP=" + measured.at("input_tp").get<std::string>() +
                              ":measured_LRA=" + measured.at("input_lra").get<std::string>() +
                              ":measured_thresh=" + measured.at("input_thresh").get<std::string>() +
                              ":offset=" + measured.at("target_offset").get<std::string>() +
                              ":linear=true:print_format=summary";
    start = Clock::now();
    const std::string summary = run({"ffmpeg", "-hide_banner", "-nostdin", "-y", "-i", input.string(), "-af", apply,
                                     "-ar", "44100", "-c:a", "pcm_s24le", output.string()},
                                    errorFile, &result.cpuSeconds);
    result.applySeconds = secondsSince(start);
    const auto type = summary.find("Normalization Type:");
    if (type != std::string::npos) {
        std::istringstream line(summary.substr(type + 19));
        line >> result.normalization;
    }
    return result;
}

} // namespace

int main() {
    const MasteringPreset loud = *presetNamed("Loud");
    try {
        const bench::BenchSong song("bench-speed", -14.0);
        const auto scratch = song.path().parent_path();
        const auto errorFile = scratch / ("ffmpeg-" + std::to_string(::getpid()) + ".log");
        const auto ffmpegOutput = scratch / ("ffmpeg-" + std::to_string(::getpid()) + ".wav");
        std::printf("5-minute stereo 44.1 kHz song at %.1f LUFS (the meter's reading) to \"Loud\" "
                    "(%.0f LUFS, %.1f dBFS)\n",
                    song.lufs(), loud.targetLoudness, loud.limitThreshold);
        if (!ffmpegAvailable(errorFile)) {
            std::printf("ffmpeg not found: no comparison (install the Debian package ffmpeg)\n");
            return 0;
        }

        std::printf("%-6s %12s %7s %22s %8s %10s %10s %8s  %s\n", "round", "orvanta", "passes", "ffmpeg (pass 1+2)",
                    "ratio", "cpu ours", "cpu ffmpeg", "ratio", "loudnorm mode");
        std::vector<double> oursTimes, theirsTimes, oursCpu, theirsCpu;
        DJMasteringResult result;
        for (int round = 1; round <= rounds; ++round) {
            const auto start = Clock::now();
            const double cpuBefore = ownCpuSeconds();
            result = AudioProcessor::processAudio(song.path(), nullptr, nullptr, false, std::nullopt, true,
                                                  loud.targetLoudness, loud.limitThreshold);
            const double ours = secondsSince(start);
            const double ourCpu = ownCpuSeconds() - cpuBefore;
            const FfmpegRun theirs = loudnormTwoPass(song.path(), ffmpegOutput, loud, errorFile);
            const double theirsTotal = theirs.measureSeconds + theirs.applySeconds;
            std::printf("%-6d %11.2fs %7d %9.2fs (%.2f+%.2f) %7.1fx %9.2fs %9.2fs %7.1fx  %s\n", round, ours,
                        result.passes, theirsTotal, theirs.measureSeconds, theirs.applySeconds, theirsTotal / ours, ourCpu,
                        theirs.cpuSeconds, theirs.cpuSeconds / ourCpu, theirs.normalization.c_str());
            std::fflush(stdout);
            oursTimes.push_back(ours);
            theirsTimes.push_back(theirsTotal);
            oursCpu.push_back(ourCpu);
            theirsCpu.push_back(theirs.cpuSeconds);
        }
        for (auto* times : {&oursTimes, &theirsTimes, &oursCpu, &theirsCpu}) std::sort(times->begin(), times->end());
        const double medianOurs = oursTimes[oursTimes.size() / 2], medianTheirs = theirsTimes[theirsTimes.size() / 2];
        std::printf("best   %11.2fs %7s %9.2fs %13s %7.1fx  (ffmpeg / orvanta)\n", oursTimes.front(), "",
                    theirsTimes.front(), "", theirsTimes.front() / oursTimes.front());
        std::printf("median %11.2fs %7s %9.2fs %13s %7.1fx\n", medianOurs, "", medianTheirs, "",
                    medianTheirs / medianOurs);
        const double medianOurCpu = oursCpu[oursCpu.size() / 2], medianTheirCpu = theirsCpu[theirsCpu.size() / 2];
        double load[1] = {0};
        ::getloadavg(load, 1);
        std::printf("median CPU (user + system) %.2fs against ffmpeg's %.2fs: %.1fx; load average %.1f on %u cores\n",
                    medianOurCpu, medianTheirCpu, medianTheirCpu / medianOurCpu, load[0],
                    std::thread::hardware_concurrency());

        double ourRate = 0.0, theirRate = 0.0;
        const test::Channels ourMaster = test::readWithSndfile(result.outputURL, &ourRate);
        const test::Channels theirMaster = test::readWithSndfile(ffmpegOutput, &theirRate);
        const auto ours = test::measureWithEbur128(ourMaster, ourRate);
        const auto theirs = test::measureWithEbur128(theirMaster, theirRate);
        std::printf("outputs by libebur128: orvanta %.2f LUFS %+.2f dBTP; ffmpeg %.2f LUFS %+.2f dBTP "
                    "(BS.1770 scale: the meter's target of %.0f is %.1f there)\n",
                    ours.integratedLufs, ours.truePeakDb, theirs.integratedLufs, theirs.truePeakDb,
                    loud.targetLoudness, loud.targetLoudness + 0.5);
        std::error_code ignored;
        std::filesystem::remove(result.outputURL, ignored);
        std::filesystem::remove(ffmpegOutput, ignored);
        std::filesystem::remove(errorFile, ignored);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_speed_vs_ffmpeg: %s\n", error.what());
        return 1;
    }
    return 0;
}
