// The analyzer panel's models on a real event loop: view model, session baseline and panel events.
#include "analyzer/ComparisonMode.h"
#include "models/analyzer/AnalyzerPanelController.h"
#include "models/analyzer/AnalyzerViewModel.h"
#include "models/engine/BackgroundPool.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

using namespace orvanta;
using namespace orvanta::test;
using StateKind = AnalyzerViewModel::StateKind;

namespace {

constexpr double rate = 44100.0;

// Runs the event loop until `done` holds or 60 s have passed; true when it holds.
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void drainEvents() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::filesystem::path writeSine(const std::string& name, double amplitude, double seconds, size_t channels = 2) {
    const auto path = scratchPath(name);
    writeWav(path, replicate(sine(1000.0, amplitude, rate, size_t(rate * seconds)), channels), rate);
    return path;
}

struct Reports {
    std::vector<std::filesystem::path> urls;
    std::vector<AudioAnalysisResult> results;
};

AnalyzerPanelCallbacks recordingCallbacks(Reports& reports) {
    AnalyzerPanelCallbacks callbacks;
    callbacks.onAnalysisCompleted = [&reports](const std::filesystem::path& url, const AudioAnalysisResult& result) {
        reports.urls.push_back(url);
        reports.results.push_back(result);
    };
    return callbacks;
}

bool peakKnown(const AnalyzerViewModel& model) {
    return model.result() && model.result()->analysisDetails.truePeakDB > -100.0;
}

} // namespace

TEST(ComparisonMode, RawValuesRoundTrip) {
    for (ComparisonMode mode : allComparisonModes) EXPECT_EQ(comparisonModeFromRawValue(rawValue(mode)), mode);
    EXPECT_EQ(rawValue(ComparisonMode::before), "before");
    EXPECT_FALSE(comparisonModeFromRawValue("Before").has_value());
}

TEST(AnalyzerViewModel, AnalysisThenPeakPassThenReset) {
    BackgroundPool pool;
    const auto file = writeSine("tone one.wav", 0.5, 2.0);
    AnalyzerViewModel model(pool);
    std::vector<StateKind> states;
    QObject::connect(&model, &AnalyzerViewModel::stateChanged, [&] { states.push_back(model.state().kind); });

    QFuture<void> done = model.analyze(file);
    EXPECT_EQ(model.fileName(), "tone one.wav");
    EXPECT_EQ(model.progress(), 0.01);
    EXPECT_EQ(model.state(), AnalyzerViewModel::State::analyzing());

    ASSERT_TRUE(waitUntil([&] { return done.isFinished(); }));
    EXPECT_EQ(states, (std::vector<StateKind>{StateKind::analyzing, StateKind::completed}));
    ASSERT_TRUE(model.result());
    const auto& details = model.result()->analysisDetails;
    // The true peak of a sine cut off at the file's end rings a little above its amplitude.
    EXPECT_NEAR(details.truePeakLevel, 0.5, 0.005);
    EXPECT_NEAR(details.truePeakDB, -6.02, 0.03);
    EXPECT_NEAR(details.duration, 2.0, 1e-6);
    EXPECT_FALSE(details.recommendedUseCase.empty());

    model.reset();
    EXPECT_EQ(model.state(), AnalyzerViewModel::State::idle());
    EXPECT_EQ(model.progress(), 0.0);
    EXPECT_TRUE(model.fileName().isEmpty());
    EXPECT_FALSE(model.result());
}

TEST(AnalyzerViewModel, UnreadableFileBecomesErrorState) {
    BackgroundPool pool;
    const auto notAudio = scratchPath("notes.wav");
    { std::ofstream(notAudio) << "not audio at all"; }
    AnalyzerViewModel model(pool);
    QFuture<void> done = model.analyze(notAudio);
    ASSERT_TRUE(waitUntil([&] { return done.isFinished(); }));
    EXPECT_EQ(model.state().kind, StateKind::error);
    EXPECT_FALSE(model.state().errorMessage.isEmpty());
    EXPECT_FALSE(model.result());
    EXPECT_EQ(AnalyzerViewModel::State::error("a"), AnalyzerViewModel::State::error("a"));
    EXPECT_FALSE(AnalyzerViewModel::State::error("a") == AnalyzerViewModel::State::error("b"));
}

TEST(AnalyzerViewModel, SilentOrTooShortFileShowsWhyItCannotBeAnalysed) {
    BackgroundPool pool;
    const std::pair<const char*, Channels> cases[] = {
        {"silent", replicate(silence(44100 * 2), 2)},
        {"too short to measure", replicate(sine(1000, 0.5, 44100, 2205), 2)},
    };
    for (const auto& [reason, channels] : cases) {
        const auto path = scratchPath("unmeasurable.wav");
        writeWav(path, channels, 44100);
        AnalyzerViewModel model(pool);
        QFuture<void> done = model.analyze(path);
        ASSERT_TRUE(waitUntil([&] { return done.isFinished(); }));
        EXPECT_EQ(model.state().kind, StateKind::error) << reason;
        EXPECT_TRUE(model.state().errorMessage.contains(QString::fromUtf8(reason))) << reason;
        EXPECT_FALSE(model.result()) << reason;
    }
}

TEST(AnalyzerViewModel, ANewAnalysisDropsTheUpdatesOfTheOlderOne) {
    BackgroundPool pool;
    const auto longer = writeMusic(scratchPath("long.wav"), 40.0);
    const auto shorter = writeSine("short.wav", 0.25, 1.0);
    AnalyzerViewModel model(pool);
    QFuture<void> first = model.analyze(longer);
    QFuture<void> second = model.analyze(shorter);
    ASSERT_TRUE(waitUntil([&] { return first.isFinished() && second.isFinished(); }));
    drainEvents();
    ASSERT_TRUE(model.result());
    EXPECT_EQ(model.fileName(), "short.wav");
    EXPECT_NEAR(model.result()->analysisDetails.duration, 1.0, 1e-6);
    EXPECT_NEAR(model.result()->analysisDetails.truePeakLevel, 0.25, 0.0025);
    EXPECT_EQ(model.state().kind, StateKind::completed);
}

TEST(AnalyzerViewModel, ADestroyedViewModelIgnoresLateUpdates) {
    BackgroundPool pool;
    const auto file = writeMusic(scratchPath("long.wav"), 40.0);
    QFuture<void> done;
    {
        AnalyzerViewModel model(pool);
        done = model.analyze(file);
    }
    ASSERT_TRUE(waitUntil([&] { return done.isFinished(); }));
    drainEvents(); // queued progress and completion find no view model
    EXPECT_TRUE(done.isCanceled());
}

TEST(AnalyzerPanel, UnprocessedFileReportsOnceAndBaselineCarriesMeasuredPeak) {
    BackgroundPool pool;
    const auto file = writeSine("song.wav", 0.95, 2.0);
    Reports reports;
    AnalyzerPanelController panel({file, std::nullopt, false, true}, recordingCallbacks(reports), pool);
    panel.start();
    EXPECT_EQ(panel.lastURL(), file);
    EXPECT_FALSE(panel.pendingURL());
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::analyzing);

    ASSERT_TRUE(waitUntil([&] { return peakKnown(panel.viewModel()); }));
    drainEvents();
    ASSERT_EQ(reports.urls.size(), 1u);
    EXPECT_EQ(reports.urls[0], file);
    EXPECT_TRUE(panel.didReport());
    ASSERT_TRUE(panel.sessionStore().baseline());
    EXPECT_EQ(*panel.sessionStore().baseline(), *panel.viewModel().result());
    EXPECT_NEAR(panel.sessionStore().baseline()->analysisDetails.truePeakDB, -0.45, 0.03);
    // A peak above −1 dBTP adds its note to the recommendation.
    EXPECT_NE(panel.sessionStore().baseline()->analysisDetails.recommendationNote.find("True-peak peste -1 dBTP"),
              std::string::npos);
    EXPECT_FALSE(panel.showsComparison());

    // start() acts only while idle.
    panel.start();
    drainEvents();
    EXPECT_EQ(reports.urls.size(), 1u);
}

TEST(AnalyzerPanel, MasteredFileIsComparedWithItsAnalysedOriginal) {
    BackgroundPool pool;
    const auto original = writeSine("original.wav", 0.5, 3.0);
    const auto mastered = writeSine("original_master.wav", 0.9, 2.0);
    Reports reports;
    AnalyzerPanelController panel({mastered, original, true, true}, recordingCallbacks(reports), pool);
    panel.start();
    EXPECT_TRUE(panel.isAnalyzingOriginal());
    EXPECT_EQ(panel.displayedProgress(), 0.5);
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::idle);

    ASSERT_TRUE(waitUntil([&] { return peakKnown(panel.viewModel()); }));
    drainEvents();
    EXPECT_FALSE(panel.isAnalyzingOriginal());
    ASSERT_EQ(reports.urls.size(), 1u);
    EXPECT_EQ(reports.urls[0], mastered);
    ASSERT_TRUE(panel.sessionStore().baseline());
    const auto& baseline = *panel.sessionStore().baseline();
    EXPECT_NEAR(baseline.analysisDetails.duration, 3.0, 1e-6);
    EXPECT_NEAR(baseline.analysisDetails.truePeakLevel, 0.5, 0.005); // the original's measured peak
    EXPECT_NEAR(panel.viewModel().result()->analysisDetails.truePeakLevel, 0.9, 0.01);

    EXPECT_TRUE(panel.showsComparison());
    EXPECT_EQ(panel.displayedResult(), panel.viewModel().result());
    panel.setComparisonMode(ComparisonMode::before);
    EXPECT_EQ(panel.comparisonModeRaw(), "before");
    EXPECT_EQ(panel.displayedResult(), panel.sessionStore().baseline());
}

TEST(AnalyzerPanel, UnreadableOriginalStillAnalysesTheMasteredFile) {
    BackgroundPool pool;
    const auto mastered = writeSine("song_master.wav", 0.8, 2.0);
    Reports reports;
    AnalyzerPanelController panel({mastered, scratchPath("missing.wav"), true, false}, recordingCallbacks(reports),
                                  pool);
    panel.start();
    ASSERT_TRUE(waitUntil([&] { return reports.urls.size() == 1; }));
    EXPECT_EQ(reports.urls[0], mastered);
    EXPECT_FALSE(panel.sessionStore().baseline());
    EXPECT_FALSE(panel.isAnalyzingOriginal());
    EXPECT_FALSE(panel.showsComparison());
}

TEST(AnalyzerPanel, URLChangesActOnlyWhileIdleAndDropsClearTheBaseline) {
    BackgroundPool pool;
    const auto first = writeSine("first.wav", 0.5, 2.0);
    const auto second = writeSine("second.wav", 0.3, 1.0);
    Reports reports;
    AnalyzerPanelController panel({first, std::nullopt, false, false}, recordingCallbacks(reports), pool);
    panel.start();
    panel.changeInitialURL(second); // analysing: ignored
    EXPECT_EQ(panel.lastURL(), first);
    ASSERT_TRUE(waitUntil([&] { return peakKnown(panel.viewModel()); }));
    ASSERT_TRUE(panel.sessionStore().baseline());

    panel.dropFile(second);
    EXPECT_FALSE(panel.sessionStore().baseline());
    EXPECT_EQ(panel.lastURL(), second);
    EXPECT_FALSE(panel.didReport());
    ASSERT_TRUE(waitUntil([&] { return reports.urls.size() == 2 && peakKnown(panel.viewModel()); }));
    EXPECT_EQ(reports.urls[1], second);
    EXPECT_NEAR(panel.sessionStore().baseline()->analysisDetails.truePeakLevel, 0.3, 0.003);

    panel.resetFromResult();
    EXPECT_FALSE(panel.sessionStore().baseline());
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::idle);
    panel.changeInitialURL(first); // idle: analysed
    EXPECT_EQ(panel.lastURL(), first);
    ASSERT_TRUE(waitUntil([&] { return reports.urls.size() == 3; }));
}

TEST(AnalyzerPanel, TryAgainKeepsTheBaselineAndResetClearsIt) {
    BackgroundPool pool;
    const auto original = writeSine("take.wav", 0.5, 2.0);
    const auto mastered = writeSine("take_master.wav", 0.9, 2.0);
    const auto broken = scratchPath("broken.wav");
    { std::ofstream(broken) << "RIFF garbage"; }
    Reports reports;
    AnalyzerPanelController panel({mastered, original, true, true}, recordingCallbacks(reports), pool);
    panel.start();
    ASSERT_TRUE(waitUntil([&] { return reports.urls.size() == 1 && peakKnown(panel.viewModel()); }));
    ASSERT_TRUE(panel.sessionStore().baseline());

    panel.dropFile(broken); // a mastered panel keeps its baseline
    ASSERT_TRUE(waitUntil([&] { return panel.viewModel().state().kind == StateKind::error; }));
    EXPECT_EQ(reports.urls.size(), 1u); // an error is not reported
    panel.tryAgain();
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::idle);
    EXPECT_TRUE(panel.sessionStore().baseline());
    panel.resetFromResult();
    EXPECT_FALSE(panel.sessionStore().baseline());
}

TEST(AnalyzerPanel, FailedPeakPassLeavesTheUnmeasuredPeak) {
    BackgroundPool pool;
    const auto file = writeSine("vanishing.wav", 0.5, 2.0);
    const auto kept = scratchPath("kept.wav");
    std::filesystem::copy_file(file, kept);
    Reports reports;
    AnalyzerPanelCallbacks callbacks = recordingCallbacks(reports);
    // The report comes before the peak pass starts: removing the file makes that pass fail.
    callbacks.onAnalysisCompleted = [&](const std::filesystem::path& url, const AudioAnalysisResult& result) {
        reports.urls.push_back(url);
        reports.results.push_back(result);
        std::filesystem::remove(url);
    };
    AnalyzerPanelController panel({file, std::nullopt, false, false}, callbacks, pool);
    panel.start();
    ASSERT_TRUE(waitUntil([&] { return reports.urls.size() == 1; }));
    drainEvents();
    pool.waitForDone();
    drainEvents();
    ASSERT_TRUE(panel.viewModel().result());
    EXPECT_EQ(panel.viewModel().result()->analysisDetails.truePeakDB, -120.0);
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::completed);
    ASSERT_TRUE(panel.sessionStore().baseline()); // from the completion, not from a known peak
    EXPECT_EQ(*panel.sessionStore().baseline(), reports.results[0]);
}

TEST(AnalyzerPanel, AClosedPanelDoesNothingLater) {
    BackgroundPool pool;
    const auto original = writeMusic(scratchPath("orig.wav"), 30.0);
    const auto mastered = writeSine("orig_master.wav", 0.9, 2.0);
    Reports reports;
    {
        AnalyzerPanelController panel({mastered, original, true, true}, recordingCallbacks(reports), pool);
        panel.start();
        EXPECT_TRUE(panel.isAnalyzingOriginal());
    }
    pool.waitForDone();
    drainEvents();
    EXPECT_TRUE(reports.urls.empty());
}

TEST(AnalyzerPanel, CallbacksAreOptional) {
    BackgroundPool pool;
    bool repaired = false;
    AnalyzerPanelCallbacks callbacks;
    callbacks.onRepair = [&] { repaired = true; };
    AnalyzerPanelController panel({std::nullopt, std::nullopt, false, true}, callbacks, pool);
    panel.start(); // no file: nothing to do
    EXPECT_EQ(panel.viewModel().state().kind, StateKind::idle);
    panel.repair();
    panel.close();
    panel.playOriginal();
    EXPECT_TRUE(repaired);
    EXPECT_TRUE(panel.offersRepair());
    EXPECT_FALSE(panel.offersPlayOriginal());
}
