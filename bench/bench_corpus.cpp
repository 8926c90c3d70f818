// The corpus benchmark: varied songs mastered at every preset through the real pipeline, each
// master judged from outside the engine: loudness and true peak by libebur128, flat-topped peaks
// per minute, passes and time. Prints one table and a summary per preset. A report, not a gate: it
// exits 0 whatever the figures, 1 only when a run fails. Arguments (bench.sh passes Google
// Benchmark's) are ignored.
#include "batch/AudioProcessor.h"
#include "batch/MasteringPresets.h"
#include "CorpusFiles.h"
#include "platform/TemporaryDirectory.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace orvanta;

constexpr double meterOffsetDb = 0.5;    // the engine's meter reads BS.1770 loudness minus this
constexpr double convergedLu = 0.3;      // the pipeline's own tolerance
constexpr double flatTopLimit = 200.0;   // runs per minute a clean master stays under

struct Row {
    std::string song;
    MasteringPreset preset;
    double lufs = 0.0;      // libebur128 minus the meter offset
    double meterLufs = 0.0; // what the engine reported
    double truePeak = 0.0;  // dBTP, libebur128
    double flatTops = 0.0;  // per minute
    int passes = 0;
    double seconds = 0.0;
};

struct Level {
    double lufs;      // libebur128 minus the meter offset
    double truePeak;  // dBTP
    double samplePeak; // dBFS
    double seconds;
};

Level levelOf(const test::Channels& channels, double rate) {
    const test::Ebur128Reading reading = test::measureWithEbur128(channels, rate);
    double peak = 0.0;
    for (const auto& channel : channels) peak = std::max(peak, test::peakOf(channel));
    return {reading.integratedLufs - meterOffsetDb, reading.truePeakDb, 20.0 * std::log10(peak),
            double(channels.front().size()) / rate};
}

Row master(const bench::CorpusSong& song, const MasteringPreset& preset) {
    const auto start = std::chrono::steady_clock::now();
    const DJMasteringResult result = AudioProcessor::processAudio(song.path, nullptr, nullptr, false, std::nullopt, true,
                                                                  preset.targetLoudness, preset.limitThreshold);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    double rate = 0.0;
    const test::Channels output = test::readWithSndfile(result.outputURL, &rate);
    std::error_code ignored;
    std::filesystem::remove(result.outputURL, ignored);
    const Level level = levelOf(output, rate);
    return {song.name, preset, level.lufs, double(result.stats.lufs), level.truePeak,
            test::flatTopRunsPerMinute(output, rate), result.passes, seconds};
}

void printSongs(const std::vector<bench::CorpusSong>& songs) {
    std::printf("%-30s %7s %5s %8s %8s %8s %6s\n", "song", "length", "bpm", "in LUFS", "peak", "TP", "PLR");
    for (const auto& song : songs) {
        double rate = 0.0;
        const test::Channels channels = test::readWithSndfile(song.path, &rate);
        const Level level = levelOf(channels, rate);
        const std::string bpm = song.bpm > 0 ? std::to_string(int(song.bpm)) : "-";
        std::printf("%-30s %6.0fs %5s %8.1f %8.1f %8.1f %6.1f\n", song.name.c_str(), level.seconds, bpm.c_str(),
                    level.lufs, level.samplePeak, level.truePeak, level.truePeak - level.lufs);
    }
    std::printf("(in LUFS on the meter's scale: libebur128 minus 0.5 dB; peak: sample peak dBFS; TP: true peak "
                "dBTP; PLR: TP minus loudness, the crest)\n\n");
}

void printHeader() {
    std::printf("%-30s %-10s %8s %6s %7s %7s %6s %7s %9s %6s %6s\n", "song", "preset", "out LUFS", "miss", "meter",
                "TP", "ceil", "TP-ceil", "flat/min", "passes", "time");
}

void printRow(const Row& row) {
    std::printf("%-30s %-10s %8.2f %+6.2f %7.2f %+7.2f %6.1f %+7.2f %9.0f %6d %5.2fs\n", row.song.c_str(),
                std::string(row.preset.name).c_str(), row.lufs, row.lufs - row.preset.targetLoudness, row.meterLufs,
                row.truePeak, row.preset.limitThreshold, row.truePeak - row.preset.limitThreshold, row.flatTops,
                row.passes, row.seconds);
    std::fflush(stdout);
}

void printSummary(const std::vector<Row>& rows) {
    std::printf("\n");
    for (const MasteringPreset& preset : masteringPresets) {
        int count = 0, converged = 0, underCeiling = 0, nearCeiling = 0;
        const Row* worst = nullptr;
        std::vector<double> flatTops;
        for (const Row& row : rows) {
            if (row.preset.name != preset.name) continue;
            ++count;
            flatTops.push_back(row.flatTops);
            converged += std::fabs(row.lufs - preset.targetLoudness) <= convergedLu;
            underCeiling += row.truePeak <= preset.limitThreshold;
            nearCeiling += row.truePeak <= preset.limitThreshold + 0.1;
            if (worst == nullptr || row.flatTops > worst->flatTops) worst = &row;
        }
        if (count == 0) continue;
        std::sort(flatTops.begin(), flatTops.end());
        std::printf("%-10s within %.1f LU: %d/%d   true peak <= ceiling: %d/%d (<= ceiling + 0.1 dB: %d/%d)   "
                    "flat tops: worst %.0f/min (%s), median %.0f/min (under %.0f wanted)\n",
                    std::string(preset.name).c_str(), convergedLu, converged, count, underCeiling, count, nearCeiling,
                    count, worst->flatTops, worst->song.c_str(), flatTops[flatTops.size() / 2], flatTopLimit);
    }
}

} // namespace

int main() {
    const auto folder = privateTemporaryDirectory() / ("corpus-" + std::to_string(::getpid()));
    int status = 0;
    try {
        std::filesystem::create_directories(folder);
        std::string skipped;
        const auto writing = std::chrono::steady_clock::now();
        const auto songs = bench::writeCorpus(folder, skipped);
        std::printf("Corpus: %zu songs (written in %.1f s), each mastered at every preset through "
                    "AudioProcessor::processAudio.\n",
                    songs.size(), std::chrono::duration<double>(std::chrono::steady_clock::now() - writing).count());
        if (!skipped.empty()) std::printf("%s\n", skipped.c_str());
        std::printf("\n");
        printSongs(songs);

        std::printf("out LUFS: libebur128 integrated loudness of the whole master minus 0.5 dB (the meter's "
                    "calibration), so it compares with the target on the meter's scale; miss: out LUFS minus "
                    "target; meter: the engine's own reading; TP: libebur128 true peak (dBTP); flat/min: runs of "
                    "3+ equal samples within 0.1 dB of the file's peak per minute; time: the whole run.\n");
        printHeader();
        std::vector<Row> rows;
        const auto start = std::chrono::steady_clock::now();
        for (const auto& song : songs) {
            for (const MasteringPreset& preset : masteringPresets) {
                try {
                    rows.push_back(master(song, preset));
                    printRow(rows.back());
                } catch (const std::exception& error) {
                    std::printf("%-30s %-10s failed: %s\n", song.name.c_str(), std::string(preset.name).c_str(),
                                error.what());
                    status = 1;
                }
            }
        }
        printSummary(rows);
        std::printf("total mastering and measuring time: %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_corpus: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
