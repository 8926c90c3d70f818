// Limiter throughput on a five-minute stereo song at 44.1 kHz: the engine alone (one channel after
// the other) and a whole limiting pass from file to 24-bit file.
#include "BenchSong.h"
#include "engine/LimiterPass.h"
#include "engine/MultibandLimiter.h"
#include "platform/AudioFileReader.h"

#include <benchmark/benchmark.h>

namespace {

const orvanta::bench::BenchSong& song() {
    static const orvanta::bench::BenchSong instance("bench-limiter", -14.0);
    return instance;
}

void BM_LimiterEngine(benchmark::State& state) {
    orvanta::AudioFileReader reader(song().path());
    orvanta::AudioBuffer source = reader.makeBuffer(uint32_t(reader.lengthFrames()));
    reader.read(source, uint32_t(reader.lengthFrames()));
    orvanta::AudioBuffer work = reader.makeBuffer(source.frameLength());
    for (auto _ : state) {
        state.PauseTiming();
        work.setFrameLength(source.frameLength());
        for (uint32_t c = 0; c < source.channelCount(); ++c) {
            std::copy_n(source.channel(c), source.frameLength(), work.channel(c));
        }
        orvanta::MultibandLimiterEngine engine(int(source.channelCount()), {}, float(reader.sampleRate()));
        engine.threshold = orvanta::limiterThresholdFor(-8.0f, -0.3f);
        engine.adaptReleaseToTempo(124);
        state.ResumeTiming();
        for (uint32_t c = 0; c < work.channelCount(); ++c) {
            engine.processBlock(int(c), work.channel(c), work.frameLength(), 2.5f);
        }
        benchmark::DoNotOptimize(work.channel(0)[work.frameLength() / 2]);
    }
    const double frames = double(source.frameLength()) * double(state.iterations());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LimiterEngine)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LimiterPass(benchmark::State& state) {
    const auto output = song().path().parent_path() / ("bench-limiter-out-" + std::to_string(::getpid()) + ".wav");
    const int64_t length = orvanta::AudioFileReader(song().path()).lengthFrames();
    for (auto _ : state) {
        orvanta::renderLimiterPass(song().path(), output, 2.5f, 124, -8.0f, -0.3f, nullptr, nullptr);
    }
    std::error_code ec;
    std::filesystem::remove(output, ec);
    state.counters["frames_per_s"] = benchmark::Counter(double(length) * double(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LimiterPass)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
