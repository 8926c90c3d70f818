// Analysis of a five-minute stereo song at 44.1 kHz: the full analysis and the peak pass that follows it.
#include "analyzer/AudioAnalyzer.h"
#include "demo/DemoSong.h"
#include "platform/TemporaryDirectory.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// A 24-bit WAV in the private temporary directory, made on first use and removed at exit.
struct SongFile {
    std::filesystem::path path;
    SongFile() {
        orvanta::demo::DemoSongParameters parameters;
        parameters.durationSeconds = 300.0;
        parameters.sampleRate = 44100.0;
        path = orvanta::privateTemporaryDirectory() / ("bench-analyzer-" + std::to_string(::getpid()) + ".wav");
        orvanta::demo::writeDemoSong(orvanta::demo::synthesizeDemoSong(parameters), path);
    }
    ~SongFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

const std::filesystem::path& songPath() {
    static const SongFile song;
    return song.path;
}

double peakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void BM_AnalyzeFiveMinuteSong(benchmark::State& state) {
    const auto& path = songPath();
    double score = 0;
    for (auto _ : state) {
        auto result = orvanta::AudioAnalyzer::analyzeFile(path);
        const auto peak = orvanta::AudioAnalyzer::measureTruePeak(path);
        score += result.overallScore + peak.truePeakDB;
        benchmark::DoNotOptimize(result);
    }
    benchmark::DoNotOptimize(score);
    state.counters["peak_MiB"] = peakMemoryMiB();
}
BENCHMARK(BM_AnalyzeFiveMinuteSong)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TruePeakOnly(benchmark::State& state) {
    const auto& path = songPath();
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvanta::AudioAnalyzer::measureTruePeak(path));
    }
}
BENCHMARK(BM_TruePeakOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
