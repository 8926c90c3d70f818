// How long the main thread stays busy while a ten-minute stereo 44.1 kHz song is mastered, analysed
// and played through the window's models. A 5 ms precise watchdog timer on the main thread records the
// largest gap between its ticks minus the interval: the worst stall, which must stay under 50 ms.
// Stalls are reported, never failed on. The slowest event delivered on the main thread and the
// slowest direct call into a model are printed with each result, to tell where a stall comes from.
//
// Runs in a fresh temporary folder (ORVANTA_TEMP_DIR, ORVANTA_CONFIG_DIR) with the null audio output,
// so the user's preferences and files are never touched.
#include "app/ImportScreen.h"
#include "app/MainWindow.h"
#include "app/ResultScreen.h"
#include "app/WaveformView.h"
#include "demo/DemoSong.h"
#include "eq/EQSettings.h"
#include "IsolatedEnvironment.h"
#include "models/analyzer/AnalyzerViewModel.h"
#include "models/app/AppContext.h"
#include "models/app/MainWindowModel.h"
#include "models/app/ThemeManager.h"
#include "models/app/WallpaperManager.h"
#include "models/batch/AudioSettingsManager.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/ProcessingStatusManager.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "platform/PreferenceStore.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QMetaEnum>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int watchdogIntervalMs = 5;
constexpr double stallLimitMs = 50.0;
constexpr double songSeconds = 600.0;

// A private folder for the temporary files and the preferences, set before anything reads them;
// the window is drawn without a display.
const orvanta::bench::IsolatedEnvironment isolatedEnvironment = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return orvanta::bench::IsolatedEnvironment("Stall");
}();

// The slowest single step seen on the main thread: an event delivery or a timed direct call.
struct SlowestStep {
    double ms = 0;
    std::string what;

    void offer(double stepMs, const std::string& description) {
        if (stepMs > ms) {
            ms = stepMs;
            what = description;
        }
    }
};

// The application object, timing every outermost event it delivers on the main thread, so that a
// stall can be traced to the object that received the slow event.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        // Qt 6 also calls notify for other threads' events; only the main thread's matter here.
        if (sink_ == nullptr || QThread::currentThread() != thread() || ignored_.contains(receiver)) {
            return QApplication::notify(receiver, event);
        }
        ++depth_;
        QElapsedTimer clock;
        clock.start();
        const QEvent::Type type = event->type(); // the event may be gone after delivery
        const QString receiverName = describe(receiver); // and so may the receiver
        const bool handled = QApplication::notify(receiver, event);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        --depth_;
        if (depth_ == 0 && sink_ != nullptr && ms > sink_->ms) {
            const char* typeName = QMetaEnum::fromType<QEvent::Type>().valueToKey(type);
            sink_->offer(ms, std::string(typeName ? typeName : "event") + " to " + receiverName.toStdString());
        }
        return handled;
    }

    // Where the slowest event goes from now on; none: nothing is timed.
    void setEventSink(SlowestStep* sink) { sink_ = sink; }
    SlowestStep* eventSink() const { return sink_; }
    // A watchdog's own ticks are not timed.
    void ignore(QObject* object) { ignored_.insert(object); }
    void unignore(QObject* object) { ignored_.remove(object); }

private:
    static QString describe(QObject* object) {
        QString name = QString::fromLatin1(object->metaObject()->className());
        if (QObject* parent = object->parent()) {
            name += QStringLiteral(" (child of ") + QString::fromLatin1(parent->metaObject()->className()) + ')';
        }
        return name;
    }

    int depth_ = 0; // nesting of event deliveries on the main thread: only the outermost is timed
    QSet<QObject*> ignored_;
    SlowestStep* sink_ = nullptr;
};

// Created on first use on the benchmark thread (the main thread) and never destroyed: the shared
// managers it serves are process-wide and outlive every benchmark.
TimedApplication& application() {
    static TimedApplication* app = [] {
        static int argc = 1;
        static char name[] = "bench_main_thread_stall";
        static char* argv[] = {name, nullptr};
        return new TimedApplication(argc, argv);
    }();
    return *app;
}

// The ten-minute demo song at about −14 LUFS as a 24-bit WAV, written once.
const fs::path& tenMinuteSong() {
    static const fs::path song = [] {
        const fs::path path = isolatedEnvironment.songsDirectory() / "ten-minute-song.wav";
        orvanta::demo::DemoSongParameters parameters;
        parameters.durationSeconds = songSeconds;
        parameters.sampleRate = 44100.0;
        parameters.levelDB = -2.0; // 0 dB is about −12 LUFS
        orvanta::demo::writeDemoSong(orvanta::demo::synthesizeDemoSong(parameters), path);
        return path;
    }();
    return song;
}

// The 5 ms watchdog and the stall figures of one benchmark.
class StallWatchdog {
public:
    StallWatchdog() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(watchdogIntervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        application().ignore(&timer_);
        resume();
    }
    ~StallWatchdog() {
        application().unignore(&timer_);
        if (application().eventSink() == &slowestEvent_) application().setEventSink(nullptr);
    }

    // Between suspend and resume nothing is watched (work that is not part of the figures).
    void suspend() {
        if (!timer_.isActive()) return;
        tick();
        timer_.stop();
        if (application().eventSink() == &slowestEvent_) application().setEventSink(nullptr);
    }
    void resume() {
        application().setEventSink(&slowestEvent_);
        lastTick_.start();
        timer_.start();
    }

    // Runs a direct call into a model on the main thread and keeps its duration.
    template <typename Call>
    auto timed(const char* what, Call&& call) {
        QElapsedTimer clock;
        clock.start();
        struct Record {
            SlowestStep& slowest;
            const char* what;
            QElapsedTimer& clock;
            ~Record() { slowest.offer(double(clock.nsecsElapsed()) / 1e6, what); }
        } record{slowestCall_, what, clock};
        return call();
    }

    // Publishes the figures as counters named `prefix` + "worst_stall_ms", "stalls_over_50ms", "ticks".
    void report(benchmark::State& state, const char* name, const std::string& prefix = {}) {
        suspend(); // a stall just before the end counts too
        state.counters[prefix + "worst_stall_ms"] = worstStallMs_;
        state.counters[prefix + "stalls_over_50ms"] = double(stallsOverLimit_);
        state.counters[prefix + "ticks"] = double(ticks_);
        const SlowestStep& event = slowestEvent_;
        std::printf("[Stall] %s: worst stall %.1f ms, %d over %.0f ms, %lld ticks\n", name, worstStallMs_,
                    stallsOverLimit_, stallLimitMs, static_cast<long long>(ticks_));
        std::printf("[Stall] %s: slowest main-thread event %.1f ms: %s\n", name, event.ms, event.what.c_str());
        std::printf("[Stall] %s: slowest direct model call %.1f ms: %s\n", name, slowestCall_.ms,
                    slowestCall_.what.c_str());
        std::fflush(stdout);
    }

private:
    void tick() {
        const double stallMs = double(lastTick_.nsecsElapsed()) / 1e6 - watchdogIntervalMs;
        lastTick_.restart();
        ++ticks_;
        worstStallMs_ = std::max(worstStallMs_, stallMs);
        if (stallMs > stallLimitMs) ++stallsOverLimit_;
    }

    QTimer timer_;
    QElapsedTimer lastTick_;
    double worstStallMs_ = 0;
    int stallsOverLimit_ = 0;
    long long ticks_ = 0;
    SlowestStep slowestEvent_;
    SlowestStep slowestCall_;
};

// Runs the main thread's event loop until `future` has finished, as the window does; false after
// `timeoutMs`.
template <typename T>
bool waitFor(const QFuture<T>& future, int timeoutMs = 600000) {
    if (future.isFinished()) return true;
    QEventLoop loop;
    QFutureWatcher<T> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
    return future.isFinished();
}

// Runs the main thread's event loop for `ms` milliseconds.
void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Drops the song on the model as the import screen does and waits until it is loaded; false, with the
// benchmark marked skipped, when it was not.
bool dropSong(benchmark::State& state, StallWatchdog& watchdog, orvanta::MainWindowModel& model,
              const orvanta::BatchProcessor& batch, const fs::path& song) {
    if (waitFor(watchdog.timed("MainWindowModel::dropFile", [&] { return model.dropFile(song); })) &&
        batch.hasCurrentFile())
        return true;
    state.SkipWithError("the song was not loaded");
    return false;
}

void BM_StallWhileMastering(benchmark::State& state) {
    application();
    const auto& song = tenMinuteSong();
    orvanta::AppContext app;
    orvanta::PreferenceStore& store = app.store;
    orvanta::AudioSettingsManager& settings = app.settings;
    orvanta::BatchProcessor& batch = app.batch;
    orvanta::MainWindowModel model{batch, settings, app.player, app.reference, app.eq, store, app.hub, app.pool};
    model.choosePreset(1);
    if (model.presetLabel() != QStringLiteral("Loud")) {
        state.SkipWithError("preset 1 is not \"Loud\"");
        return;
    }

    // The figures cover drop and start; "Delete All & Start Over" afterwards is watched on its own.
    StallWatchdog resetWatchdog;
    resetWatchdog.suspend();
    StallWatchdog watchdog;
    for (auto _ : state) {
        if (!dropSong(state, watchdog, model, batch, song)) break;
        if (!waitFor(watchdog.timed("MainWindowModel::start", [&] { return model.start(); })) ||
            model.appState() != orvanta::AppState::result) {
            state.SkipWithError("mastering did not reach the result screen");
            break;
        }
        if (const auto& stats = batch.currentFile()->masterStats) state.counters["master_lufs"] = stats->lufs;
        watchdog.suspend();
        resetWatchdog.resume();
        resetWatchdog.timed("MainWindowModel::resetApplication", [&] { model.resetApplication(); });
        runEventLoopFor(300); // the reset's delayed steps
        resetWatchdog.suspend();
        watchdog.resume();
    }
    watchdog.report(state, "Mastering");
    resetWatchdog.report(state, "Start over after mastering", "reset_");
}
BENCHMARK(BM_StallWhileMastering)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_StallWhileAnalysing(benchmark::State& state) {
    application();
    const auto& song = tenMinuteSong();
    orvanta::BackgroundPool pool;
    orvanta::AnalyzerViewModel viewModel(pool);

    StallWatchdog watchdog;
    for (auto _ : state) {
        if (!waitFor(watchdog.timed("AnalyzerViewModel::analyze", [&] { return viewModel.analyze(song); })) ||
            viewModel.state().kind != orvanta::AnalyzerViewModel::StateKind::completed || !viewModel.hasResult()) {
            state.SkipWithError("the analysis did not complete");
            break;
        }
        const auto& details = viewModel.result()->analysisDetails;
        state.counters["song_seconds"] = details.duration;
        state.counters["true_peak_db"] = details.truePeakDB; // filled by the peak pass
        watchdog.timed("AnalyzerViewModel::reset", [&] { viewModel.reset(); });
    }
    watchdog.report(state, "Analysing");
}
BENCHMARK(BM_StallWhileAnalysing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Three seconds of playback with a seek to the middle and a pause and resume; argument 1 plays through
// the live EQ, whose chunks are read and filtered on the main thread.
void BM_StallWhilePlaying(benchmark::State& state) {
    application();
    const auto& song = tenMinuteSong();
    const bool throughEQ = state.range(0) != 0;
    orvanta::AudioPlayerManager player;
    orvanta::EQSettings eq = orvanta::defaultEQSettings();
    eq.isEnabled = throughEQ;
    for (size_t band = 0; band < eq.bands.size(); ++band) eq.bands[band].gain = band % 2 == 0 ? 3.0f : -2.0f;

    StallWatchdog watchdog;
    for (auto _ : state) {
        watchdog.timed("AudioPlayerManager::loadFile", [&] { player.loadFile(song); });
        if (!player.hasFile()) {
            state.SkipWithError("the song was not loaded");
            break;
        }
        watchdog.timed("AudioPlayerManager::updateEQ", [&] { player.updateEQ(eq); });
        watchdog.timed("AudioPlayerManager::play", [&] { player.play(); });
        runEventLoopFor(1000);
        watchdog.timed("AudioPlayerManager::seek", [&] { player.seek(0.5f); });
        runEventLoopFor(750);
        watchdog.timed("AudioPlayerManager::pause", [&] { player.pause(); });
        runEventLoopFor(250);
        watchdog.timed("AudioPlayerManager::play (resume)", [&] { player.play(); });
        runEventLoopFor(1000);
        if (player.playbackState() != orvanta::PlaybackState::playing) {
            state.SkipWithError("playback stopped early");
            break;
        }
        watchdog.timed("AudioPlayerManager::stop", [&] { player.stop(); });
    }
    watchdog.report(state, throughEQ ? "Playing through EQ" : "Playing");
}
BENCHMARK(BM_StallWhilePlaying)->ArgName("eq")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

// The same work through the window itself: the screens, the waveforms with the gain-reduction lane, the
// spectrum bars, the analyzer panel with its spectrogram and repair curve and the vectorscope are drawn
// (offscreen) while the ten-minute song is mastered, analysed from the result screen and played.
void BM_StallInTheWindow(benchmark::State& state) {
    application();
    const auto& song = tenMinuteSong();
    orvanta::AppContext app;
    orvanta::PreferenceStore& store = app.store;
    orvanta::AudioSettingsManager& settings = app.settings;
    orvanta::AudioPlayerManager& player = app.player;
    orvanta::BatchProcessor& batch = app.batch;
    orvanta::WallpaperManager wallpaper{store};
    orvanta::MainWindowModel model{batch, settings, player, app.reference, app.eq, store, app.hub, app.pool};
    orvanta::MainWindow window{{model, batch, settings, player, app.reference, app.status, app.themes, app.hub,
                                wallpaper, app.pool}};
    window.resize(1280, 800);
    window.show();
    runEventLoopFor(300);
    model.choosePreset(1);

    StallWatchdog watchdog;
    for (auto _ : state) {
        if (!dropSong(state, watchdog, model, batch, song)) break;
        QTest::mouseClick(window.importScreen()->startButton(), Qt::LeftButton);
        QElapsedTimer clock;
        clock.start();
        while (model.appState() != orvanta::AppState::result && clock.elapsed() < 600000) runEventLoopFor(50);
        if (model.appState() != orvanta::AppState::result) {
            state.SkipWithError("mastering did not reach the result screen");
            break;
        }
        runEventLoopFor(1500); // the spectra of original and master
        // The waveforms of both versions and the limiter's gain-reduction lane are drawn on the result screen.
        const orvanta::WaveformView& waveforms = *window.resultScreen()->waveformView();
        clock.restart();
        while ((waveforms.timelineSeconds() <= 0 || !waveforms.hasGainReductionLane()) && clock.elapsed() < 60000)
            runEventLoopFor(50);
        state.counters["waveform_seconds"] = waveforms.timelineSeconds();
        state.counters["gain_reduction_lane"] = waveforms.hasGainReductionLane() ? 1 : 0;
        watchdog.timed("MainWindowModel::openAnalyzerFromResult", [&] { model.openAnalyzerFromResult(); });
        clock.restart();
        while (!model.lastAnalysisResult() && clock.elapsed() < 600000) runEventLoopFor(50);
        if (!model.lastAnalysisResult()) {
            state.SkipWithError("the analysis did not complete");
            break;
        }
        runEventLoopFor(500);
        watchdog.timed("MainWindowModel::togglePlay", [&] { model.togglePlay(0, false); });
        runEventLoopFor(3000);
        watchdog.timed("MainWindowModel::togglePlay", [&] { model.togglePlay(0, true); });
        runEventLoopFor(1000);
        watchdog.timed("MainWindowModel::closeAnalyzer", [&] { model.closeAnalyzer(); });
        watchdog.timed("MainWindowModel::resetApplication", [&] { model.resetApplication(); });
        runEventLoopFor(500);
    }
    watchdog.report(state, "Window");
}
BENCHMARK(BM_StallInTheWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
