// The loudness meter on a five-minute stereo song at 44.1 kHz (the whole file: loudness, sample peak,
// RMS and true peak), timed side by side with ffmpeg's ebur128 filter (integrated loudness and true
// peak) on the same file. Target: under 0.2 s. Counters: ffmpeg's time, the ratio (how many times
// faster the meter is), and both meters' readings.
#include "BenchSong.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct FfmpegReading {
    double seconds = 0;
    double lufs = 0;         // integrated loudness
    double truePeakDb = 0;   // dBTP
};

// The value after `label` in ffmpeg's summary, e.g. "I:         -15.3 LUFS".
double summaryValue(const std::string& log, const std::string& label) {
    const size_t at = log.rfind(label);
    return at == std::string::npos ? 0.0 : std::stod(log.substr(at + label.size()));
}

// Runs `ffmpeg -nostats -i FILE -af ebur128=peak=true -f null -` and reads its summary from stderr.
std::optional<FfmpegReading> runFfmpegEbur128(const std::filesystem::path& file) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string input = file.string();
    const char* argv[] = {"ffmpeg", "-nostats", "-hide_banner", "-i", input.c_str(), "-af", "ebur128=peak=true",
                          "-f", "null", "-", nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string log;
    char chunk[4096];
    ssize_t got = 0;
    while (spawned == 0 && (got = read(pipeFds[0], chunk, sizeof chunk)) > 0) log.append(chunk, size_t(got));
    close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    FfmpegReading reading;
    reading.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    reading.lufs = summaryValue(log, "I:");
    reading.truePeakDb = summaryValue(log, "Peak:");
    return reading;
}

void BM_AnalyzeAudioFileBesideFfmpeg(benchmark::State& state) {
    static const orvanta::bench::BenchSong song("bench-meter", -14.0);
    orvanta::AudioStats stats;
    double meterSeconds = 0, ffmpegSeconds = 0;
    FfmpegReading ffmpeg;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        stats = orvanta::analyzeAudioFile(song.path());
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        meterSeconds += elapsed;

        const auto reading = runFfmpegEbur128(song.path());
        if (!reading) {
            state.SkipWithError("ffmpeg with the ebur128 filter did not run");
            return;
        }
        ffmpeg = *reading;
        ffmpegSeconds += ffmpeg.seconds;
    }
    const double iterations = double(state.iterations());
    state.counters["ffmpeg_ms"] = 1000.0 * ffmpegSeconds / iterations;
    state.counters["times_faster"] = ffmpegSeconds / meterSeconds;
    // The meter reads 0.5 dB under BS.1770 by calibration; +0.5 puts both on the same scale.
    state.counters["lufs_plus_0.5"] = stats.lufs + 0.5;
    state.counters["ffmpeg_lufs"] = ffmpeg.lufs;
    state.counters["true_peak_db"] = stats.truePeak;
    state.counters["ffmpeg_true_peak_db"] = ffmpeg.truePeakDb;
}
BENCHMARK(BM_AnalyzeAudioFileBesideFfmpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
