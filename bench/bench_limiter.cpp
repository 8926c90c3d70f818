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
    state.counters["samples_per_s"] =
        benchmark::Counter(frames * double(source.channelCount()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LimiterEngine)->Unit(benchmark::kMillisecond)->Iterations(3);

// Five minutes of stereo white noise at 44.1 kHz: every band busy all the time.
void BM_LimiterEngineNoise(benchmark::State& state) {
    constexpr uint32_t frames = 300 * 44100;
    std::vector<std::vector<float>> noise(2, std::vector<float>(frames));
    uint32_t seed = 12345;
    for (auto& channel : noise) {
        for (float& x : channel) {
            seed = seed * 1664525u + 1013904223u;
            x = 0.5f * (float(seed >> 8) / 8388608.0f - 1.0f);
        }
    }
    std::vector<float> work(frames);
    for (auto _ : state) {
        orvanta::MultibandLimiterEngine engine(2, {}, 44100.0f);
        engine.threshold = orvanta::limiterThresholdFor(-8.0f, -0.3f);
        engine.adaptReleaseToTempo(124);
        for (int c = 0; c < 2; ++c) {
            state.PauseTiming();
            std::copy(noise[size_t(c)].begin(), noise[size_t(c)].end(), work.begin());
            state.ResumeTiming();
            engine.processBlock(c, work.data(), frames, 2.5f);
            benchmark::DoNotOptimize(work[frames / 2]);
        }
    }
    state.counters["samples_per_s"] = benchmark::Counter(2.0 * frames * double(state.iterations()),
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LimiterEngineNoise)->Unit(benchmark::kMillisecond)->Iterations(3);

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
