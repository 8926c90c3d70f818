// How close reference matching brings a song to its reference: the tonal distance (RMS over
// third-octave band levels in dB, overall levels aligned first) of the master and of the final to the
// reference, for one song against four references of other music (brighter, darker, bass-heavy,
// mid-scooped, each at its own loudness), at the default strength ("Gentle") and at "Full". Every run
// goes through the batch processor as the command line drives it: reference loaded by the reference
// manager, master pass, final pass. Distances are reported, never failed on; the aim is a final at
// "Full" at least 40 % closer to the reference than the master ("closer_pct" >= 40).
//
// Runs in a fresh temporary folder (ORVANTA_TEMP_DIR, ORVANTA_CONFIG_DIR), so the user's preferences
// and files are never touched.
#include "demo/DemoSong.h"
#include "eq/MatchStrength.h"
#include "IsolatedEnvironment.h"
#include "models/app/AppContext.h"
#include "models/batch/BatchProcessor.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "platform/PreferenceStore.h"
#include "support/CookbookBiquad.h"
#include "support/TonalBalance.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double songSeconds = 60.0;
constexpr double sampleRate = 44100.0;

const orvanta::bench::IsolatedEnvironment isolatedEnvironment("Match");

QCoreApplication& application() {
    static QCoreApplication* app = [] {
        static int argc = 1;
        static char name[] = "bench_reference_match";
        static char* argv[] = {name, nullptr};
        return new QCoreApplication(argc, argv);
    }();
    return *app;
}

template <typename T>
void waitFor(const QFuture<T>& future) {
    while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

using Biquad = orvanta::test::CookbookBiquad;

struct ReferenceShape {
    const char* name;
    Biquad filter;
    double levelDB; // of the reference's music before shaping; 0 dB ≈ −12 LUFS
};

const std::array<ReferenceShape, 4>& referenceShapes() {
    static const std::array<ReferenceShape, 4> shapes = {{
        {"brighter", Biquad::shelf(3000.0, 6.0, true, sampleRate), 1.0},
        {"darker", Biquad::shelf(2500.0, -6.0, true, sampleRate), -5.0},
        {"bass-heavy", Biquad::shelf(150.0, 6.0, false, sampleRate), -1.0},
        {"mid-scooped", Biquad::peaking(800.0, -6.0, 0.5, sampleRate), -3.0},
    }};
    return shapes;
}

fs::path writeSong(const std::string& name, uint32_t seed, double levelDB, const Biquad* shape) {
    orvanta::demo::DemoSongParameters parameters;
    parameters.durationSeconds = songSeconds;
    parameters.sampleRate = sampleRate;
    parameters.levelDB = levelDB;
    parameters.seed = seed;
    orvanta::demo::DemoSong song = orvanta::demo::synthesizeDemoSong(parameters);
    if (shape) {
        shape->run(song.left);
        shape->run(song.right);
    }
    const fs::path path = isolatedEnvironment.songsDirectory() / (name + ".wav");
    orvanta::demo::writeDemoSong(song, path, true);
    return path;
}

// The benchmark's application object, built once (the benchmark's runs share the mastered song).
orvanta::AppContext& benchApp() {
    static orvanta::AppContext* app = [] {
        application();
        return new orvanta::AppContext();
    }();
    return *app;
}

// The song's master, made once per process by the batch processor that also runs every final pass.
orvanta::BatchProcessor& masteredSong() {
    static orvanta::BatchProcessor* processor = [] {
        orvanta::BatchProcessor* batch = &benchApp().batch;
        batch->setExportFormatOverride(orvanta::ExportFormat::wav);
        const QFuture<bool> loaded = batch->loadFile(writeSong("song", 1, -2.0, nullptr));
        waitFor(loaded);
        if (!loaded.result()) std::abort();
        waitFor(batch->processCurrentFile(std::string("Loud"), false, -8.0f, -0.3f));
        if (!batch->currentFile() || !batch->currentFile()->masterURL) std::abort();
        return batch;
    }();
    return *processor;
}

void BM_ReferenceMatchTonalDistance(benchmark::State& state) {
    const ReferenceShape& shape = referenceShapes()[size_t(state.range(0))];
    const float strength = state.range(1) == 0 ? orvanta::gentleMatchStrength : orvanta::fullMatchStrength;
    orvanta::BatchProcessor& batch = masteredSong();
    const fs::path reference = writeSong(std::string("reference-") + shape.name, 7, shape.levelDB, &shape.filter);
    orvanta::ReferenceTrackManager& manager = benchApp().reference;
    waitFor(manager.loadReference(reference));
    manager.setMatchStrength(strength);

    for (auto _ : state) {
        orvanta::AudioFile entry = *batch.currentFile();
        entry.finalURL.reset();
        entry.finalStats.reset();
        entry.processingStatus = orvanta::AudioFile::ProcessingStatus::pending;
        batch.setCurrentFile(entry);
        waitFor(batch.processCurrentFile(std::string("Master + Reference"), true, -8.0f, -0.3f));
    }
    const orvanta::AudioFile& file = *batch.currentFile();
    if (!file.finalURL) {
        state.SkipWithError("the reference pass failed");
        return;
    }
    const double master = orvanta::test::tonalDistanceDb(*file.masterURL, reference);
    const double final = orvanta::test::tonalDistanceDb(*file.finalURL, reference);
    state.SetLabel(std::string(shape.name) + ", " + orvanta::matchStrengthLabel(strength));
    state.counters["master_dB"] = master;
    state.counters["final_dB"] = final;
    state.counters["closer_pct"] = 100.0 * (master - final) / master;
    std::error_code ec;
    fs::remove(reference, ec);
}
BENCHMARK(BM_ReferenceMatchTonalDistance)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->ArgNames({"reference", "full"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
