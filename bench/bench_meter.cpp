// The loudness meter on a five-minute stereo song at 44.1 kHz (it reads the middle 120 s).
#include "BenchSong.h"

#include <benchmark/benchmark.h>

namespace {

void BM_AnalyzeAudioFile(benchmark::State& state) {
    static const orvanta::bench::BenchSong song("bench-meter", -14.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvanta::analyzeAudioFile(song.path()));
    }
}
BENCHMARK(BM_AnalyzeAudioFile)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
