// Exports in every format: the corpus songs mastered at every preset into WAV, M4A and MP3 through
// masterFile (the path the window and the command line take), each file decoded by the ffmpeg program
// and judged by libebur128: loudness against the WAV master of the same song and preset, true peak
// against the ceiling, whole-file encodings and masters made again, time. Then the speed of an M4A
// export of a five-minute song beside the WAV master and one plain ffmpeg AAC encode of that master,
// side by side in each round. A report, not a gate: it exits 0 whatever the figures, 1 only when a run
// fails. BENCH_EXPORTS_SONGS takes only some corpus songs: a number N (the first N; 0: only the
// speed) or a comma-separated list of their names. Arguments (bench.sh passes Google Benchmark's) are
// ignored.
#include "batch/MasterFile.h"
#include "batch/MasteringPresets.h"
#include "BenchSong.h"
#include "CorpusFiles.h"
#include "ProgramRun.h"
#include "platform/TemporaryDirectory.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orvanta;
using Clock = std::chrono::steady_clock;

constexpr double meterOffsetDb = 0.5; // the engine's meter reads BS.1770 loudness minus this
constexpr int speedRounds = 3;
constexpr std::array<ExportFormat, 3> formats = {ExportFormat::wav, ExportFormat::m4a, ExportFormat::mp3};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Decoded {
    double lufs = 0.0;     // libebur128 minus the meter offset
    double truePeak = 0.0; // dBTP, libebur128
};

// The file as the ffmpeg program decodes it, measured by libebur128.
Decoded decodedByFfmpeg(const std::filesystem::path& file, const std::filesystem::path& scratch) {
    const auto wav = scratch / ("decoded-" + std::to_string(::getpid()) + ".wav");
    const auto log = scratch / ("ffmpeg-" + std::to_string(::getpid()) + ".log");
    bench::run({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", file.string(), "-c:a", "pcm_f32le", wav.string()}, log);
    double rate = 0.0;
    const test::Channels channels = test::readWithSndfile(wav, &rate);
    std::error_code ignored;
    std::filesystem::remove(wav, ignored);
    std::filesystem::remove(log, ignored);
    const test::Ebur128Reading reading = test::measureWithEbur128(channels, rate);
    return {reading.integratedLufs - meterOffsetDb, reading.truePeakDb};
}

struct Export {
    MasteredFile file;
    double seconds = 0.0;
};

Export exportAs(const std::filesystem::path& song, const MasteringPreset& preset, ExportFormat format) {
    MasteringOptions options;
    options.input = song;
    options.targetLUFS = preset.targetLoudness;
    options.limitThreshold = preset.limitThreshold;
    options.format = format;
    const auto start = Clock::now();
    Export result{masterFile(options), 0.0};
    result.seconds = secondsSince(start);
    return result;
}

struct Tally {
    int count = 0, withinMaster = 0, underCeiling = 0, nearCeiling = 0, encodings = 0;
    double worstLu = 0.0, worstOverDb = -1e9;
};

// The songs BENCH_EXPORTS_SONGS names (see the top), all without it.
std::vector<bench::CorpusSong> chosen(std::vector<bench::CorpusSong> songs, const char* choice) {
    if (choice == nullptr) return songs;
    const std::string text(choice);
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        songs.resize(std::min(songs.size(), size_t(std::stoul(text))));
        return songs;
    }
    const std::string names = "," + text + ",";
    std::erase_if(songs, [&](const bench::CorpusSong& song) { return names.find("," + song.name + ",") == std::string::npos; });
    return songs;
}

int corpusTable(const std::filesystem::path& folder, const char* choice, std::array<std::array<Tally, 3>, 3>& tallies) {
    std::string skipped;
    const std::vector<bench::CorpusSong> songs = chosen(bench::writeCorpus(folder, skipped), choice);
    if (!skipped.empty()) std::printf("%s\n", skipped.c_str());
    std::printf("%-30s %-10s %-4s %8s %8s %7s %7s %5s %5s %7s\n", "song", "preset", "fmt", "LUFS", "vs WAV", "TP",
                "TP-ceil", "enc", "again", "time");
    int status = 0;
    for (const auto& song : songs) {
        for (size_t p = 0; p < masteringPresets.size(); ++p) {
            const MasteringPreset& preset = masteringPresets[p];
            double masterLufs = 0.0;
            for (size_t f = 0; f < formats.size(); ++f) {
                const ExportFormat format = formats[f];
                try {
                    const Export made = exportAs(song.path, preset, format);
                    const Decoded decoded = decodedByFfmpeg(made.file.result.outputURL, folder);
                    std::error_code ignored;
                    std::filesystem::remove(made.file.result.outputURL, ignored);
                    if (format == ExportFormat::wav) masterLufs = decoded.lufs;
                    const int encodings = made.file.encoding ? made.file.encoding->encodings : 0;
                    const int remasters = made.file.encoding ? made.file.encoding->remasters : 0;
                    const double overDb = decoded.truePeak - preset.limitThreshold;
                    std::printf("%-30s %-10s %-4s %8.2f %+8.2f %+7.2f %+7.2f %5d %5d %6.2fs\n", song.name.c_str(),
                                std::string(preset.name).c_str(), std::string(fileExtension(format)).c_str(),
                                decoded.lufs, decoded.lufs - masterLufs, decoded.truePeak, overDb, encodings,
                                remasters, made.seconds);
                    std::fflush(stdout);
                    Tally& tally = tallies[p][f];
                    ++tally.count;
                    tally.withinMaster += std::fabs(decoded.lufs - masterLufs) <= 0.3;
                    tally.underCeiling += overDb <= 0.0;
                    tally.nearCeiling += overDb <= 0.1;
                    tally.encodings += encodings;
                    tally.worstLu = std::max(tally.worstLu, std::fabs(decoded.lufs - masterLufs));
                    tally.worstOverDb = std::max(tally.worstOverDb, overDb);
                } catch (const std::exception& error) {
                    std::printf("%-30s %-10s %-4s failed: %s\n", song.name.c_str(), std::string(preset.name).c_str(),
                                std::string(fileExtension(format)).c_str(), error.what());
                    status = 1;
                }
            }
        }
    }
    return status;
}

void printTallies(const std::array<std::array<Tally, 3>, 3>& tallies) {
    std::printf("\n");
    for (size_t p = 0; p < masteringPresets.size(); ++p) {
        for (size_t f = 0; f < formats.size(); ++f) {
            const Tally& tally = tallies[p][f];
            if (tally.count == 0) continue;
            std::printf("%-10s %-4s within 0.3 LU of the WAV master: %d/%d (worst %.2f)   TP <= ceiling: %d/%d, "
                        "<= ceiling + 0.1: %d/%d (worst %+.2f dB)   encodings: %.1f a song\n",
                        std::string(masteringPresets[p].name).c_str(), std::string(fileExtension(formats[f])).c_str(),
                        tally.withinMaster, tally.count, tally.worstLu, tally.underCeiling, tally.count,
                        tally.nearCeiling, tally.count, tally.worstOverDb, double(tally.encodings) / tally.count);
        }
    }
}

// An M4A export against the WAV master's own time plus 1.5 plain encodes of that master.
void speed(const std::filesystem::path& folder) {
    const MasteringPreset loud = *presetNamed("Loud");
    const bench::BenchSong song("bench-exports", -14.0);
    std::printf("\nSpeed: 5-minute stereo 44.1 kHz song at %.1f LUFS to \"Loud\"; every round: the WAV master, the M4A "
                "export (master, encodings, measuring), and ffmpeg -c:a aac -b:a 256k of that WAV master\n",
                song.lufs());
    std::printf("The export's AAC encoder works in pieces on %u threads (one a core); ffmpeg's AAC encoder on one.\n",
                std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    std::printf("%-6s %9s %9s %9s %9s %5s %5s\n", "round", "wav", "m4a", "ffmpeg", "budget", "enc", "again");
    const auto log = folder / "speed.log";
    std::vector<double> spare;
    for (int round = 1; round <= speedRounds; ++round) {
        const Export wav = exportAs(song.path(), loud, ExportFormat::wav);
        const auto plain = folder / "plain.m4a";
        auto start = Clock::now();
        bench::run({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav.file.result.outputURL.string(), "-c:a", "aac",
                    "-b:a", "256k", plain.string()},
                   log);
        const double ffmpegSeconds = secondsSince(start);
        const Export m4a = exportAs(song.path(), loud, ExportFormat::m4a);
        const double budget = wav.seconds + 1.5 * ffmpegSeconds;
        double load = 0.0;
        ::getloadavg(&load, 1);
        std::printf("%-6d %8.2fs %8.2fs %8.2fs %8.2fs %5d %5d   (m4a / budget %.2f, load %.1f)\n", round, wav.seconds,
                    m4a.seconds, ffmpegSeconds, budget, m4a.file.encoding ? m4a.file.encoding->encodings : 0,
                    m4a.file.encoding ? m4a.file.encoding->remasters : 0, m4a.seconds / budget, load);
        std::fflush(stdout);
        spare.push_back(m4a.seconds / budget);
        std::error_code ignored;
        std::filesystem::remove(wav.file.result.outputURL, ignored);
        std::filesystem::remove(m4a.file.result.outputURL, ignored);
        std::filesystem::remove(plain, ignored);
    }
    std::sort(spare.begin(), spare.end());
    std::printf("median m4a time / (wav master + 1.5 x ffmpeg encode): %.2f (at most 1.0 wanted)\n",
                spare[spare.size() / 2]);
}

} // namespace

int main() {
    const auto folder = privateTemporaryDirectory() / ("exports-" + std::to_string(::getpid()));
    int status = 0;
    try {
        std::filesystem::create_directories(folder);
        if (!bench::ffmpegAvailable(folder / "version.log")) {
            std::printf("ffmpeg not found: nothing to judge the exports by (install the Debian package ffmpeg)\n");
            return 0;
        }
        const char* choice = std::getenv("BENCH_EXPORTS_SONGS");
        std::printf("LUFS: libebur128 loudness of the file as ffmpeg decodes it, minus 0.5 dB (the meter's scale); "
                    "vs WAV: against the WAV master of the same song and preset; TP: libebur128 true peak; enc: "
                    "whole-file encodings; again: masters made again under a lowered ceiling; time: the whole export\n");
        std::array<std::array<Tally, 3>, 3> tallies{};
        if (choice == nullptr || std::string(choice) != "0") {
            status = corpusTable(folder, choice, tallies);
            printTallies(tallies);
        }
        speed(folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_exports: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
