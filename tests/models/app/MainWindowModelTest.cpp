// The window's workflow on real files, real managers and a real event loop.
#include "eq/EQSettings.h"
#include "models/app/AppContext.h"
#include "models/app/ExportWriter.h"
#include "models/app/MainWindowModel.h"
#include "models/app/PresetRules.h"
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

#include <cmath>
#include <fstream>
#include <iterator>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

class MainWindowModelTest : public testing::Test {
protected:
    AppContext app;
    PreferenceStore& store = app.store;
    AudioSettingsManager& settings = app.settings;
    BatchProcessor& batch = app.batch;
    MainWindowModel model{batch, settings, app.player, app.reference, app.eq, store, app.hub, app.pool};
};

TEST(PresetRulesTest, MatchesWithinATenthOtherwiseCustom) {
    EXPECT_EQ(presetLabel(false, -8.05f, -0.25f), "Loud");
    EXPECT_EQ(presetLabel(false, -8.2f, -0.3f), "CUSTOM");
    EXPECT_EQ(presetLabel(false, -10.0f, -0.2f), "Normal");
    EXPECT_EQ(presetLabel(true, -10.0f, -0.2f), "ANALYZER");
    EXPECT_EQ(runName(true, -10.0f, -0.2f).value(), "Master + Reference");
    EXPECT_FALSE(runName(false, -7.0f, -0.3f).has_value());
}

// A 96 kHz master exported as MP3 becomes a 48 kHz MP3 of the same duration, and the temporary copy
// at 48 kHz goes; a 16-bit FLAC export of it is dithered from the master's samples.
TEST(ExportWriterTest, AnMp3OfAHighRateMasterIsResampledAndExportsLeaveNothingBehind) {
    const fs::path master = test::scratchPath("hires_master.wav");
    test::writeWav(master, {test::sine(1000.0, 0.5, 96000.0, 96000 * 2), test::sine(500.0, 0.5, 96000.0, 96000 * 2)},
                   96000.0, test::SampleFormat::pcm24);
    const fs::path mp3 = test::scratchPath("out/hires.mp3");
    fs::create_directories(mp3.parent_path());
    writeExport(master, mp3, ExportFormat::mp3, -0.3f);
    double rate = 0.0;
    const test::Channels decoded = test::readWithSndfile(mp3, &rate);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(decoded.front().size(), size_t(48000 * 2));
    const fs::path flac = test::scratchPath("out/hires.flac");
    writeExport(master, flac, ExportFormat::flac16, -0.3f);
    EXPECT_NEAR(test::rmsOf(test::readWithSndfile(flac)[0]), 0.5 / std::sqrt(2.0), 1e-4);
    EXPECT_TRUE(test::appTemporaryDirectoryIsEmpty());
    for (const auto& entry : fs::directory_iterator(mp3.parent_path()))
        EXPECT_TRUE(entry.path() == mp3 || entry.path() == flac) << "leftover " << entry.path();
}

TEST(WindowAlertsTest, CancelConfirmationOffersCancelAndContinue) {
    const AlertContent cancel = alertContent(AlertType::cancelConfirmation);
    EXPECT_EQ(cancel.title, "Cancel processing?");
    ASSERT_EQ(cancel.buttons.size(), 2u);
    EXPECT_EQ(cancel.buttons[0].label, "Cancel");
    EXPECT_EQ(cancel.buttons[0].role, AlertButtonRole::destructive);
    EXPECT_EQ(cancel.buttons[1].label, "Continue");
    const AlertContent tooLong = alertContent(AlertType::fileTooLong);
    EXPECT_EQ(tooLong.title, "File too long");
    ASSERT_EQ(tooLong.buttons.size(), 1u);
    EXPECT_EQ(tooLong.buttons[0].label, "OK");
}

TEST_F(MainWindowModelTest, RejectsFilesOverNineHundredSecondsAndNonAudio) {
    const fs::path tooLong = test::scratchPath("long.wav");
    test::writeWav(tooLong, {test::silence(size_t(900.5 * 8000))}, 8000);
    ASSERT_TRUE(test::finishes(model.dropFile(tooLong)));
    ASSERT_TRUE(model.alertType().has_value());
    EXPECT_EQ(*model.alertType(), AlertType::fileTooLong);
    EXPECT_FALSE(batch.hasCurrentFile());
    model.answerAlert("OK");
    EXPECT_FALSE(model.hasAlert());

    const fs::path exact = test::scratchPath("exact.wav");
    test::writeWav(exact, {test::silence(size_t(900 * 8000))}, 8000);
    ASSERT_TRUE(test::finishes(model.dropFile(exact)));
    EXPECT_FALSE(model.hasAlert());
    EXPECT_TRUE(batch.hasCurrentFile());

    const fs::path text = test::scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    ASSERT_TRUE(test::finishes(model.dropFile(text)));
    EXPECT_EQ(model.alertType(), AlertType::invalidFileFormat);
    EXPECT_FALSE(batch.hasCurrentFile());
}

TEST_F(MainWindowModelTest, PresetChoiceWritesSettingsAndLabel) {
    model.choosePreset(2);
    EXPECT_EQ(model.presetLabel(), "Extra Loud");
    EXPECT_FLOAT_EQ(store.floatValue(targetLoudnessKey).value(), -6.0f);
    settings.setTargetLoudness(-8.2f);
    EXPECT_EQ(model.presetLabel(), "CUSTOM");
    settings.setUseAnalyzer(true);
    EXPECT_EQ(model.presetLabel(), "ANALYZER");
}

TEST_F(MainWindowModelTest, MastersExportsAndStartsOver) {
    const fs::path song = test::scratchPath("mysong.wav");
    test::writeMusic(song, 6.0, -12.0);
    const std::string songBytes = test::contentsOf(song);
    model.choosePreset(1);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));
    ASSERT_TRUE(batch.hasCurrentFile());
    saveEQSettings(store, defaultEQSettings(), activeEQSettingsKey);

    ASSERT_TRUE(test::finishes(model.start(), 300000));
    EXPECT_FALSE(store.contains(activeEQSettingsKey));
    ASSERT_EQ(model.appState(), AppState::result);
    ASSERT_TRUE(batch.currentFile()->masterURL.has_value());
    EXPECT_EQ(model.proposedExportFileName(), "mysong (MASTER).wav");

    const fs::path destination = test::scratchPath("out/mysong (MASTER).wav");
    fs::create_directories(destination.parent_path());
    QFuture<bool> exported = model.exportTo(destination);
    ASSERT_TRUE(test::finishes(exported));
    EXPECT_TRUE(exported.result());
    EXPECT_EQ(test::contentsOf(destination), test::contentsOf(*batch.currentFile()->masterURL));
    EXPECT_EQ(test::contentsOf(song), songBytes);
    for (const auto& entry : fs::directory_iterator(destination.parent_path()))
        EXPECT_EQ(entry.path(), destination) << "leftover partial file";

    // A name typed with another format's extension gets that format, whatever the choice.
    const fs::path typedMp3 = test::scratchPath("out/mysong (MASTER).MP3");
    QFuture<bool> asMp3 = model.exportTo(typedMp3);
    ASSERT_TRUE(test::finishes(asMp3, 60000));
    EXPECT_TRUE(asMp3.result());
    const std::string mp3 = test::contentsOf(typedMp3);
    ASSERT_GE(mp3.size(), 3u);
    const bool frameSync = (unsigned char)mp3[0] == 0xFF && ((unsigned char)mp3[1] & 0xE0) == 0xE0;
    EXPECT_TRUE(mp3.compare(0, 3, "ID3") == 0 || frameSync) << "an MP3 (ID3 tag or frame sync), not WAV data";
    fs::remove(typedMp3);

    // Exporting over the loaded song is refused and leaves it as it was.
    QFuture<bool> overOriginal = model.exportTo(song);
    ASSERT_TRUE(test::finishes(overOriginal));
    EXPECT_FALSE(overOriginal.result());
    EXPECT_EQ(model.alertType(), AlertType::exportError);
    EXPECT_EQ(test::contentsOf(song), songBytes);
    model.answerAlert("OK");

    model.requestCancel();
    EXPECT_EQ(model.alertType(), AlertType::cancelConfirmation);
    model.answerAlert("Continue");
    EXPECT_EQ(model.appState(), AppState::result);

    const fs::path master = *batch.currentFile()->masterURL;
    model.resetApplication();
    test::processEventsFor(400);
    EXPECT_EQ(model.appState(), AppState::importFiles);
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_FALSE(fs::exists(master)) << "start-over removes the rendered files";
    EXPECT_TRUE(fs::exists(song));
    EXPECT_TRUE(fs::exists(destination)) << "an export is the user's file";
}

TEST_F(MainWindowModelTest, NoCurrentFileProposesDefaultName) {
    EXPECT_EQ(model.proposedExportFileName(), "masterized_audio.wav");
}

} // namespace
} // namespace orvanta
