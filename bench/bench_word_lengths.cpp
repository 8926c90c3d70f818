// The conversions after a master, beside ffmpeg doing the same to the same five-minute 24-bit song:
// 24-bit FLAC, dithered 16-bit WAV, 44.1 to 48 kHz with the SoX resampler, MP3 at 320 kb/s. Each pair
// runs in this process, one after the other; the ratio of their times is the figure to read.
#include "BenchSong.h"
#include "platform/LosslessTranscode.h"
#include "platform/LossyEncoder.h"
#include "platform/SampleRateConversion.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

namespace fs = std::filesystem;

const orvanta::bench::BenchSong& song() {
    static const orvanta::bench::BenchSong master("bench-word-lengths", -8.0);
    return master;
}

fs::path outputNamed(const std::string& name) { return orvanta::privateTemporaryDirectory() / name; }

// ffmpeg on the song with `arguments` into `name`, as one would run it from a shell.
void runFfmpeg(benchmark::State& state, const std::string& arguments, const std::string& name) {
    const std::string command = "/usr/bin/ffmpeg -v error -y -i '" + song().path().string() + "' " + arguments +
                                " '" + outputNamed(name).string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    }
    fs::remove(outputNamed(name));
}

void BM_Flac24(benchmark::State& state) {
    song(); // written before the clock starts
    for (auto _ : state) orvanta::transcodeLossless(song().path(), outputNamed("ours.flac"), {orvanta::AudioContainer::flac, 24});
    fs::remove(outputNamed("ours.flac"));
}
void BM_Flac24Ffmpeg(benchmark::State& state) { runFfmpeg(state, "-c:a flac -sample_fmt s32", "theirs.flac"); }

void BM_Dithered16(benchmark::State& state) {
    for (auto _ : state) orvanta::transcodeLossless(song().path(), outputNamed("ours16.wav"), {orvanta::AudioContainer::wav, 16});
    fs::remove(outputNamed("ours16.wav"));
}
void BM_Dithered16Ffmpeg(benchmark::State& state) {
    runFfmpeg(state, "-af aresample=dither_method=triangular -c:a pcm_s16le", "theirs16.wav");
}

void BM_Resample48k(benchmark::State& state) {
    for (auto _ : state) orvanta::convertSampleRate(song().path(), outputNamed("ours48.wav"), 48000);
    fs::remove(outputNamed("ours48.wav"));
}
void BM_Resample48kFfmpeg(benchmark::State& state) {
    runFfmpeg(state, "-af aresample=48000:resampler=soxr:precision=28 -c:a pcm_f32le", "theirs48.wav");
}

void BM_Mp3(benchmark::State& state) {
    for (auto _ : state) orvanta::encodeLossy(song().path(), outputNamed("ours.mp3"), orvanta::LossyCodec::mp3);
    fs::remove(outputNamed("ours.mp3"));
}
void BM_Mp3Ffmpeg(benchmark::State& state) { runFfmpeg(state, "-c:a libmp3lame -b:a 320k", "theirs.mp3"); }

BENCHMARK(BM_Flac24)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Flac24Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Dithered16)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dithered16Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Resample48k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Resample48kFfmpeg)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Mp3)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Mp3Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace
