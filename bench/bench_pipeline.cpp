// The whole mastering run: a five-minute −14 LUFS stereo song at 44.1 kHz mastered to "Loud"
// (−8 LUFS, −0.3 dBFS). Target: under 2.5 s.
#include "BenchSong.h"
#include "engine/AudioProcessor.h"
#include "engine/StatusReporter.h"

#include <benchmark/benchmark.h>

namespace {

class SilentStatus final : public orvanta::StatusReporter {
public:
    void updateStage(orvanta::ProcessingStage, const std::string&, const std::string&) override {}
    void addChecklistItem(const std::string&, const std::string&) override {}
    void completeChecklistItem(const std::string&, const std::string&, const std::string&, bool) override {}
    void unhighlightChecklistItem(const std::string&) override {}
    void resetChecklist() override {}
};

void BM_MasterFiveMinutesToLoud(benchmark::State& state) {
    static const orvanta::bench::BenchSong song("bench-pipeline", -14.0);
    SilentStatus status;
    orvanta::DJMasteringResult result;
    for (auto _ : state) {
        result = orvanta::AudioProcessor::processAudio(song.path(), nullptr, nullptr, false, std::nullopt, true,
                                                       -8.0f, -0.3f, status);
    }
    state.counters["input_lufs"] = song.lufs();
    state.counters["output_lufs"] = result.stats.lufs;
    state.counters["passes"] = result.passes;
    std::error_code ec;
    std::filesystem::remove(result.outputURL, ec);
}
BENCHMARK(BM_MasterFiveMinutesToLoud)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
