// The whole mastering run: a five-minute −14 LUFS stereo song at 44.1 kHz mastered to "Loud"
// (−8 LUFS, −0.3 dBFS). Target: under 2.5 s.
#include "batch/AudioProcessor.h"
#include "BenchSong.h"

#include <benchmark/benchmark.h>

namespace {

void BM_MasterFiveMinutesToLoud(benchmark::State& state) {
    static const orvanta::bench::BenchSong song("bench-pipeline", -14.0);
    orvanta::DJMasteringResult result;
    for (auto _ : state) {
        result = orvanta::AudioProcessor::processAudio(song.path(), nullptr, nullptr, false, std::nullopt, true,
                                                       -8.0f, -0.3f);
    }
    state.counters["input_lufs"] = song.lufs();
    state.counters["output_lufs"] = result.stats.lufs;
    state.counters["passes"] = result.passes;
    std::error_code ec;
    std::filesystem::remove(result.outputURL, ec);
}
BENCHMARK(BM_MasterFiveMinutesToLoud)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
