// The window's workflow paths beyond the plain master run: the reference follow-up, analyzer mode and
// its repair, switching playback between versions, export into a folder and the cancel confirmation.
// Real files, the shared managers, the real preference store and a real event loop.
#include "analyzer/AudioAnalyzer.h"
#include "analyzer/CorrectionPlan.h"
#include "eq/EQSettings.h"
#include "models/app/AppContext.h"
#include "models/app/MainWindowModel.h"
#include "models/app/NotificationHub.h"
#include "models/app/WindowAlerts.h"
#include "models/batch/AudioSettingsManager.h"
#include "models/batch/BatchProcessor.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "platform/PreferenceStore.h"
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

constexpr int passTimeoutMs = 300000;

class MainWindowModelFlowsTest : public testing::Test {
protected:
    void TearDown() override {
        // Under CTest every case has its own process; run by hand they share the managers.
        player.stop();
        reference.clearReference();
        reference.resetSpectra();
        settings.setUseAnalyzer(false);
    }

    // A generated song dropped and mastered; the model ends on the result screen.
    fs::path masterSong(const std::string& name, double seconds, uint32_t seed = 1) {
        const fs::path song = test::scratchPath(name + ".wav");
        test::writeMusic(song, seconds, -14.0, seed);
        model.choosePreset(1);
        EXPECT_TRUE(test::finishes(model.dropFile(song)));
        EXPECT_TRUE(batch.hasCurrentFile());
        EXPECT_TRUE(test::finishes(model.start(), passTimeoutMs));
        EXPECT_EQ(model.appState(), AppState::result);
        return song;
    }

    static AudioAnalysisResult analysisOf(const fs::path& file) { return AudioAnalyzer::analyzeFile(file); }

    AppContext app;
    PreferenceStore& store = app.store;
    AudioSettingsManager& settings = app.settings;
    AudioPlayerManager& player = app.player;
    ReferenceTrackManager& reference = app.reference;
    BatchProcessor& batch = app.batch;
    MainWindowModel model{batch, settings, player, reference, app.eq, store, app.hub, app.pool};
};

bool allZero(const QVector<float>& levels) {
    for (float level : levels)
        if (level != 0.0f) return false;
    return true;
}

// --- Reference follow-up ---

TEST_F(MainWindowModelFlowsTest, LoadedReferenceFollowsTheMasterWithTheFinalPass) {
    // Bright noise against a bass-heavy song: the matched EQ has work to do.
    const fs::path referenceFile = test::scratchPath("reference.wav");
    test::writeWav(referenceFile, test::replicate(test::whiteNoise(0.3, 44100 * 5, 7), 2), 44100);
    QFuture<void> loading = reference.loadReference(referenceFile);
    ASSERT_TRUE(test::finishes(loading));
    ASSERT_NO_THROW(loading.waitForFinished());
    ASSERT_TRUE(reference.hasProfile());

    const fs::path song = test::scratchPath("mysong.wav");
    test::writeMusic(song, 6.0, -14.0);
    const std::string songBytes = test::contentsOf(song);
    model.choosePreset(1);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));
    ASSERT_TRUE(batch.hasCurrentFile());
    // The drop zeroes the spectra first, so a non-zero one was measured from this song.
    EXPECT_FALSE(allZero(reference.originalSpectrum()));
    EXPECT_EQ(reference.originalSpectrum(),
              ReferenceTrackManager::toList(ReferenceTrackManager::compute12BandSpectrum(song)));

    std::vector<AppState> screens;
    QObject observer;
    QObject::connect(&model, &MainWindowModel::appStateChanged, &observer,
                     [&] { screens.push_back(model.appState()); });
    ASSERT_TRUE(test::finishes(model.start(), passTimeoutMs));

    // The result screen comes once, after the final pass, never between the two passes.
    EXPECT_EQ(screens, (std::vector<AppState>{AppState::processing, AppState::result}));
    EXPECT_EQ(model.appState(), AppState::result);
    EXPECT_TRUE(batch.isFinalMode());
    const auto& file = batch.currentFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->processingStatus, AudioFile::ProcessingStatus::completed);
    ASSERT_TRUE(file->masterURL.has_value());
    ASSERT_TRUE(file->finalURL.has_value());
    EXPECT_TRUE(file->finalStats.has_value());
    EXPECT_TRUE(fs::exists(*file->finalURL));
    EXPECT_NE(*file->finalURL, *file->masterURL);
    EXPECT_NE(test::contentsOf(*file->finalURL), test::contentsOf(*file->masterURL));
    EXPECT_EQ(model.proposedExportFileName(), "mysong (FINAL).wav");
    EXPECT_EQ(test::contentsOf(song), songBytes);

    // The reference is the user's file too: an export onto it, by name or through a link, is refused
    // and leaves it as it was.
    const std::string referenceBytes = test::contentsOf(referenceFile);
    const fs::path linkToReference = test::scratchPath("reference-link.wav");
    fs::create_symlink(referenceFile, linkToReference);
    for (const fs::path& destination : {referenceFile, linkToReference}) {
        QFuture<bool> overReference = model.exportTo(destination);
        ASSERT_TRUE(test::finishes(overReference));
        EXPECT_FALSE(overReference.result()) << destination;
        EXPECT_EQ(model.alertType(), AlertType::exportError);
        model.answerAlert("OK");
    }
    EXPECT_EQ(test::contentsOf(referenceFile), referenceBytes);
    EXPECT_TRUE(fs::is_symlink(linkToReference));
}

// --- Analyzer mode ---

TEST_F(MainWindowModelFlowsTest, AnalyzerModeOpensThePanelAndRepairAppliesThePlan) {
    const fs::path song = test::scratchPath("dull.wav");
    test::writeMusic(song, 5.0, -16.0, 3);
    const std::string songBytes = test::contentsOf(song);

    settings.setUseAnalyzer(true);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));
    EXPECT_FALSE(model.hasAlert());
    EXPECT_TRUE(model.showAnalyzerPanel());
    ASSERT_TRUE(model.analyzerURL().has_value());
    EXPECT_EQ(*model.analyzerURL(), song);
    EXPECT_FALSE(model.analyzerIsMastered());
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_EQ(model.appState(), AppState::importFiles);

    const AudioAnalysisResult analysis = analysisOf(song);
    model.analysisCompleted(song, analysis);
    // The plan the repair must build from the same analysis and levels.
    const BandLevels levels = ReferenceTrackManager::compute12BandSpectrum(song);
    const auto& details = analysis.analysisDetails;
    const AnalyzerPlan expected =
        makePlan(analysis, std::vector<float>(levels.begin(), levels.end()), float(details.lufsIntegrated),
                 float(details.peakLevel), float(details.rmsLevel), store);

    QFuture<void> repairing = model.repair();
    EXPECT_TRUE(model.isAnalyzerRunning());
    ASSERT_TRUE(test::finishes(repairing, passTimeoutMs));

    EXPECT_FALSE(model.hasAlert());
    EXPECT_EQ(model.appState(), AppState::result);
    EXPECT_FALSE(settings.useAnalyzer());
    EXPECT_FALSE(model.analyzerPlan().has_value());
    EXPECT_FALSE(model.isAnalyzerRunning());
    ASSERT_TRUE(store.contains(eqSettingsKey));
    ASSERT_TRUE(store.contains(activeEQSettingsKey));
    EXPECT_EQ(loadEQSettings(store, eqSettingsKey), expected.eqSettings);
    EXPECT_EQ(loadEQSettings(store, activeEQSettingsKey), expected.eqSettings);
    EXPECT_TRUE(loadEQSettings(store, eqSettingsKey).isEnabled);
    EXPECT_FLOAT_EQ(settings.targetLoudness(), expected.settings.targetLUFS);
    EXPECT_FLOAT_EQ(settings.limitThreshold(), expected.settings.limitThreshold);

    const auto& file = batch.currentFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->processingStatus, AudioFile::ProcessingStatus::completed);
    ASSERT_TRUE(file->masterURL.has_value());
    EXPECT_TRUE(fs::exists(*file->masterURL));
    EXPECT_TRUE(batch.wasAnalyzerUsed());
    EXPECT_EQ(test::contentsOf(song), songBytes);
}

TEST_F(MainWindowModelFlowsTest, RepairWithoutAnAnalysisRaisesAnalysisFailed) {
    settings.setUseAnalyzer(true);
    ASSERT_TRUE(test::finishes(model.repair()));
    ASSERT_TRUE(model.alertType().has_value());
    EXPECT_EQ(*model.alertType(), AlertType::analysisFailed);
    EXPECT_TRUE(settings.useAnalyzer());
    EXPECT_FALSE(model.isAnalyzerRunning());
    EXPECT_EQ(model.appState(), AppState::importFiles);
    EXPECT_FALSE(batch.hasCurrentFile());
    model.answerAlert("OK");

    settings.setUseAnalyzer(false);
    ASSERT_TRUE(test::finishes(model.repair()));
    EXPECT_EQ(model.alertType(), AlertType::analysisFailed);
    EXPECT_FALSE(settings.useAnalyzer());
}

TEST_F(MainWindowModelFlowsTest, RepairFromTheResultKeepsOriginalAndAnalysedMaster) {
    const fs::path song = masterSong("mysong", 5.0, 5);
    ASSERT_TRUE(batch.currentFile().has_value());
    ASSERT_TRUE(batch.currentFile()->masterURL.has_value());
    const fs::path master = *batch.currentFile()->masterURL;
    const std::string songBytes = test::contentsOf(song);
    const std::string masterBytes = test::contentsOf(master);
    ASSERT_FALSE(masterBytes.empty());

    model.openAnalyzerFromResult();
    EXPECT_TRUE(settings.useAnalyzer());
    EXPECT_TRUE(model.showAnalyzerPanel());
    ASSERT_TRUE(model.analyzerURL().has_value());
    EXPECT_EQ(*model.analyzerURL(), master);
    EXPECT_TRUE(model.analyzerIsMastered());
    EXPECT_EQ(model.analyzerOriginalURL(), std::optional<fs::path>(song));

    model.analysisCompleted(master, analysisOf(master));
    ASSERT_TRUE(test::finishes(model.repair(), passTimeoutMs));

    EXPECT_FALSE(model.hasAlert());
    EXPECT_EQ(model.appState(), AppState::result);
    EXPECT_FALSE(settings.useAnalyzer());
    EXPECT_EQ(test::contentsOf(song), songBytes);
    EXPECT_EQ(test::contentsOf(master), masterBytes) << "the master under analysis was overwritten";
    const auto& file = batch.currentFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->processingStatus, AudioFile::ProcessingStatus::completed);
    ASSERT_TRUE(file->masterURL.has_value());
    EXPECT_NE(*file->masterURL, master);
    EXPECT_TRUE(fs::exists(*file->masterURL));
    EXPECT_NE(test::contentsOf(*file->masterURL), masterBytes);
}

TEST_F(MainWindowModelFlowsTest, PlanForAFileThatNoLongerLoadsReturnsToImport) {
    // The dropped song passes the import checks, then is replaced by something that is not audio.
    const fs::path song = test::scratchPath("vanishing.wav");
    test::writeMusic(song, 4.0, -14.0);
    settings.setUseAnalyzer(true);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));
    ASSERT_TRUE(model.showAnalyzerPanel());
    std::ofstream(song, std::ios::trunc) << "no longer audio";

    AnalyzerPlan plan;
    plan.eqSettings = defaultEQSettings();
    plan.eqSettings.isEnabled = true;
    ASSERT_TRUE(test::finishes(model.applyAnalyzerPlan(plan)));
    EXPECT_EQ(model.appState(), AppState::importFiles);
    ASSERT_TRUE(model.alertType().has_value());
    EXPECT_EQ(*model.alertType(), AlertType::analysisFailed);
    EXPECT_FALSE(settings.useAnalyzer());
    EXPECT_FALSE(model.isAnalyzerRunning());
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_EQ(test::contentsOf(song), "no longer audio");
}

TEST_F(MainWindowModelFlowsTest, PlanWithoutAnAnalysedFileReturnsToImport) {
    settings.setUseAnalyzer(true);
    ASSERT_TRUE(test::finishes(model.applyAnalyzerPlan(AnalyzerPlan{})));
    EXPECT_EQ(model.appState(), AppState::importFiles);
    EXPECT_EQ(model.alertType(), AlertType::analysisFailed);
    EXPECT_FALSE(settings.useAnalyzer());
}

// --- Play controls ---

TEST_F(MainWindowModelFlowsTest, PlayControlsSwitchVersionsKeepingThePosition) {
    const fs::path song = masterSong("playme", 6.0);
    ASSERT_TRUE(batch.currentFile()->masterURL.has_value());
    const fs::path master = *batch.currentFile()->masterURL;

    QStringList vectorscopePaths;
    QObject observer;
    QObject::connect(&app.hub, &NotificationHub::vectorscopeUrlChanged, &observer,
                     [&](const QString& path) { vectorscopePaths.push_back(path); });

    model.togglePlay(0, false);
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);
    EXPECT_EQ(model.playingFileIndex(), std::optional<int>(0));
    EXPECT_FALSE(model.playingOriginal());
    EXPECT_NEAR(player.duration(), 6.0, 0.01);
    ASSERT_EQ(vectorscopePaths.size(), 1);
    EXPECT_EQ(vectorscopePaths.back().toStdString(), master.string());
    EXPECT_FLOAT_EQ(player.currentFileLUFS(), batch.currentFile()->masterStats->lufs);

    test::processEventsFor(300);
    const float before = player.currentProgress();
    ASSERT_GT(before, 0.01f);

    model.togglePlay(0, true);
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);
    EXPECT_EQ(model.playingFileIndex(), std::optional<int>(0));
    EXPECT_TRUE(model.playingOriginal());
    EXPECT_GE(player.currentProgress(), before - 0.001f) << "switching restarted from the beginning";
    ASSERT_EQ(vectorscopePaths.size(), 2);
    EXPECT_EQ(vectorscopePaths.back().toStdString(), song.string());
    EXPECT_FLOAT_EQ(player.currentFileLUFS(), batch.currentFile()->originalStats->lufs);

    model.togglePlay(0, true);
    EXPECT_EQ(player.playbackState(), PlaybackState::paused);
    EXPECT_FALSE(model.playingFileIndex().has_value());
    EXPECT_EQ(vectorscopePaths.size(), 2);
}

// Disabled: togglePlay sets the player's version flags before loadFile, whose stop() clears them again.
TEST_F(MainWindowModelFlowsTest, PlayControlsMarkWhichVersionThePlayerHolds) {
    masterSong("flags", 4.0);
    model.togglePlay(0, false);
    EXPECT_TRUE(player.isPlayingProcessedFile());
    EXPECT_FALSE(player.isPlayingOriginal());
    model.togglePlay(0, true);
    EXPECT_TRUE(player.isPlayingOriginal());
    EXPECT_FALSE(player.isPlayingProcessedFile());
}

// --- Export All ---

TEST_F(MainWindowModelFlowsTest, ExportAllWritesTheMasterIntoTheFolderReplacingAnOldOne) {
    const fs::path folder = test::scratchPath("exports");
    fs::create_directories(folder);

    // Nothing finished yet: nothing is written.
    QFuture<bool> early = model.exportAll(folder);
    ASSERT_TRUE(test::finishes(early));
    EXPECT_FALSE(early.result());
    EXPECT_TRUE(fs::is_empty(folder));

    masterSong("mysong", 4.0);
    const fs::path target = folder / "mysong (MASTER).wav";
    std::ofstream(target) << "an older export";
    QFuture<bool> exported = model.exportAll(folder);
    ASSERT_TRUE(test::finishes(exported));
    EXPECT_TRUE(exported.result());
    EXPECT_FALSE(model.hasAlert());
    EXPECT_EQ(test::contentsOf(target), test::contentsOf(*batch.currentFile()->masterURL));
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++entries;
        EXPECT_EQ(entry.path(), target) << "leftover file";
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(MainWindowModelFlowsTest, ExportAllIntoAMissingFolderOrAFileRaisesExportError) {
    masterSong("mysong", 4.0);

    QFuture<bool> missing = model.exportAll(test::scratchPath("no/such/folder"));
    ASSERT_TRUE(test::finishes(missing));
    EXPECT_FALSE(missing.result());
    EXPECT_EQ(model.alertType(), AlertType::exportError);
    EXPECT_FALSE(fs::exists(test::scratchPath("no")));
    model.answerAlert("OK");

    const fs::path plainFile = test::scratchPath("not-a-folder");
    std::ofstream(plainFile) << "a file";
    QFuture<bool> intoFile = model.exportAll(plainFile);
    ASSERT_TRUE(test::finishes(intoFile));
    EXPECT_FALSE(intoFile.result());
    EXPECT_EQ(model.alertType(), AlertType::exportError);
    EXPECT_EQ(test::contentsOf(plainFile), "a file");
    EXPECT_FALSE(model.isExporting());
}

// --- Cancel confirmation ---

TEST_F(MainWindowModelFlowsTest, ContinueKeepsTheRunCancelReturnsToImport) {
    const fs::path song = test::scratchPath("long.wav");
    test::writeMusic(song, 8.0, -14.0);
    const std::string songBytes = test::contentsOf(song);
    model.choosePreset(0);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));

    QFuture<void> run = model.start();
    ASSERT_EQ(model.appState(), AppState::processing);
    model.requestCancel();
    EXPECT_EQ(model.alertType(), AlertType::cancelConfirmation);
    model.answerAlert("Continue");
    EXPECT_FALSE(model.hasAlert());
    EXPECT_EQ(model.appState(), AppState::processing);
    EXPECT_TRUE(batch.isProcessing());
    ASSERT_TRUE(test::finishes(run, passTimeoutMs));
    EXPECT_EQ(model.appState(), AppState::result);
    EXPECT_EQ(batch.currentFile()->processingStatus, AudioFile::ProcessingStatus::completed);

    // A second run, confirmed cancelled while it runs: a song long enough to still be at work when the
    // answer comes, however fast the machine masters.
    const fs::path longSong = test::writeLongMusic(test::scratchPath("longer.wav"), 60.0, -14.0);
    const std::string longSongBytes = test::contentsOf(longSong);
    ASSERT_TRUE(test::finishes(model.dropFile(longSong)));
    QFuture<void> second = model.start();
    ASSERT_EQ(model.appState(), AppState::processing);
    test::processEventsFor(50);
    ASSERT_TRUE(batch.isProcessing()) << "the run ended before it could be cancelled";
    model.requestCancel();
    model.answerAlert("Cancel");
    EXPECT_FALSE(model.hasAlert());
    ASSERT_TRUE(test::finishes(second, passTimeoutMs));
    test::processEventsFor(400);
    EXPECT_EQ(model.appState(), AppState::importFiles);
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_FALSE(batch.isProcessing());
    EXPECT_EQ(test::contentsOf(song), songBytes);
    EXPECT_EQ(test::contentsOf(longSong), longSongBytes);
}

} // namespace
} // namespace orvanta
