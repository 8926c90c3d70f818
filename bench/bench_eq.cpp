// The playback chain filters one 65536-frame stereo chunk on the main thread: it must stay short.
#include "eq/EQFilter.h"
#include "eq/EQSettings.h"
#include "platform/AudioBuffer.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

orvanta::AudioBuffer noiseChunk(uint32_t frames) {
    orvanta::AudioBuffer buffer(orvanta::AudioFormat{44100.0, 2}, frames);
    buffer.setFrameLength(frames);
    uint32_t seed = 1;
    for (uint32_t c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < frames; ++i) {
            seed = seed * 1664525u + 1013904223u;
            buffer.channel(c)[i] = float(seed >> 8) / float(1u << 24) - 0.5f;
        }
    return buffer;
}

void BM_FilterOneChunkThroughTwelveBands(benchmark::State& state) {
    orvanta::EQSettings settings = orvanta::defaultEQSettings();
    settings.isEnabled = true;
    for (size_t i = 0; i < settings.bands.size(); ++i) settings.bands[i].gain = (i % 2 ? 3.0f : -2.5f);
    orvanta::EQFilterBank bank;
    const orvanta::AudioBuffer source = noiseChunk(65536);
    for (auto _ : state) {
        auto filtered = orvanta::processWithEQ(bank, source, settings, true);
        benchmark::DoNotOptimize(filtered);
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}

} // namespace

BENCHMARK(BM_FilterOneChunkThroughTwelveBands)->Unit(benchmark::kMillisecond);
