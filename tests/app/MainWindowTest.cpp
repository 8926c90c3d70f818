// The window under the offscreen platform: a drop from a file manager, a full master run through the
// screens' controls, the alerts as message boxes, export through the save dialog, the shortcuts.
#include "app/ImportScreen.h"
#include "app/MainWindow.h"
#include "app/MainWindowModel.h"
#include "app/ProcessingScreen.h"
#include "app/ResultScreen.h"
#include "app/DropZoneWidget.h"
#include "app/ThemeManager.h"
#include "app/WallpaperManager.h"
#include "batch/AudioSettingsManager.h"
#include "batch/BatchProcessor.h"
#include "engine/ProcessingStatusManager.h"
#include "eq/EQManager.h"
#include "eq/ReferenceTrackManager.h"
#include "platform/PreferenceStore.h"
#include "playback/AudioPlayerManager.h"
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

const bool nullAudioOutput = [] { return ::setenv("ORVANTA_AUDIO_OUTPUT", "null", 1) == 0; }();

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(nullAudioOutput);
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void TearDown() override {
        AudioPlayerManager::shared().stop();
        settings.setUseAnalyzer(false);
    }

    // Drops `file` on the song's drop zone as a file manager does: a text/uri-list drag.
    void dropOnSongZone(const fs::path& file) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        DropZoneWidget* zone = window.importScreen()->songDropZone();
        const QPointF centre = QRectF(zone->rect()).center();
        QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(zone, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(zone, &drop);
        EXPECT_TRUE(drop.isAccepted());
    }

    QPushButton* buttonOf(QMessageBox* box, const QString& label) {
        for (QAbstractButton* button : box->buttons())
            if (button->text() == label) return qobject_cast<QPushButton*>(button);
        return nullptr;
    }

    bool masterFinished() {
        return test::becomes([&] { return window.currentScreen() == window.resultScreen(); }, 300000);
    }

    PreferenceStore& store = PreferenceStore::standard();
    AudioSettingsManager& settings = AudioSettingsManager::shared();
    BatchProcessor batch;
    WallpaperManager wallpaper{store};
    MainWindowModel model{batch, settings, AudioPlayerManager::shared(), ReferenceTrackManager::shared(),
                          EQManager::shared(), store};
    MainWindow window{{model, batch, settings, AudioPlayerManager::shared(), ReferenceTrackManager::shared(),
                       ProcessingStatusManager::shared(), ThemeManager::shared(), wallpaper}};
};

TEST_F(MainWindowTest, ADroppedTextFileRaisesInvalidFileFormatUntilDismissed) {
    const fs::path text = test::scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    dropOnSongZone(text);
    ASSERT_TRUE(test::becomes([&] { return window.openMessageBox() != nullptr; }, 5000));
    QMessageBox* box = window.openMessageBox();
    EXPECT_EQ(box->text(), "Invalid file format");
    EXPECT_EQ(box->informativeText(),
              "The selected file is not a valid audio format. Please select a valid audio file.");
    ASSERT_EQ(box->buttons().size(), 1);
    QPushButton* ok = buttonOf(box, "OK");
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(model.hasAlert());
    EXPECT_TRUE(test::becomes([&] { return window.openMessageBox() == nullptr; }, 2000));
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_EQ(window.currentScreen(), window.importScreen());
}

TEST_F(MainWindowTest, PresetPickerShowsTheLabelOfTheSettings) {
    QComboBox* presets = window.importScreen()->presetPicker();
    presets->setCurrentIndex(2);
    emit presets->activated(2);
    EXPECT_EQ(window.importScreen()->presetLabelText(), "Extra Loud");
    settings.setTargetLoudness(-8.2f);
    EXPECT_EQ(window.importScreen()->presetLabelText(), "CUSTOM");
    window.importScreen()->analyzerModeBox()->setChecked(true);
    EXPECT_TRUE(settings.useAnalyzer());
    EXPECT_EQ(window.importScreen()->presetLabelText(), "ANALYZER");
    EXPECT_FALSE(window.importScreen()->startButton()->isEnabled());
}

TEST_F(MainWindowTest, MastersThroughTheScreensAndExportsThroughTheSaveDialog) {
    const fs::path song = test::scratchPath("mysong.wav");
    test::writeMusic(song, 6.0, -14.0);
    const std::string songBytes = test::contentsOf(song);
    dropOnSongZone(song);
    ASSERT_TRUE(test::becomes([&] { return batch.hasCurrentFile(); }, 20000));
    EXPECT_TRUE(window.importScreen()->songText().contains("mysong.wav"));
    QPushButton* start = window.importScreen()->startButton();
    ASSERT_TRUE(start->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(window.currentScreen(), window.processingScreen());
    ASSERT_TRUE(masterFinished());
    EXPECT_FALSE(window.processingScreen()->checklistTexts().isEmpty());

    ResultScreen* result = window.resultScreen();
    const QRegularExpression loudness(R"(^-?\d+\.\d LUFS$)");
    EXPECT_TRUE(loudness.match(result->originalLoudnessText()).hasMatch()) << result->originalLoudnessText().toStdString();
    EXPECT_EQ(result->processedLoudnessText(),
              QString::asprintf("%.1f LUFS", double(batch.currentFile()->masterStats->lufs)));

    // Export: no final version, so the save dialog opens at once with the proposed name.
    QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(test::becomes([&] { return window.openFileDialog() != nullptr; }, 2000));
    QFileDialog* dialog = window.openFileDialog();
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    const fs::path destination = test::scratchPath("exports/mysong (MASTER).wav");
    fs::create_directories(destination.parent_path());
    dialog->setDirectory(QString::fromStdString(destination.parent_path().string()));
    dialog->selectFile(QString::fromStdString(destination.string()));
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(test::becomes([&] { return result->isSavedNoticeVisible(); }, 20000));
    EXPECT_EQ(test::contentsOf(destination), test::contentsOf(*batch.currentFile()->masterURL));
    EXPECT_EQ(test::contentsOf(song), songBytes);

    // Space plays and pauses the processed version.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    result->exportButton()->setFocus();
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(model.playingFileIndex(), 0);
    EXPECT_FALSE(model.playingOriginal());
    EXPECT_EQ(result->playProcessedButton()->text(), "Pause Processed");
    EXPECT_TRUE(result->neededGainText().contains(" dB"));
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_FALSE(model.playingFileIndex().has_value());

    // The report toggle flips its label and is remembered.
    const bool shown = model.showReport();
    QTest::mouseClick(result->reportToggle(), Qt::LeftButton);
    EXPECT_EQ(result->reportToggle()->text(), shown ? "Show Report" : "Hide Report");
    EXPECT_EQ(result->isReportVisible(), !shown);

    QTest::mouseClick(result->startOverButton(), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.currentScreen() == window.importScreen(); }, 5000));
    EXPECT_EQ(test::contentsOf(song), songBytes);
    EXPECT_TRUE(fs::exists(destination)) << "start-over never removes an export";
}

TEST_F(MainWindowTest, CancelAsksForConfirmationAndCancelReturnsToImport) {
    const fs::path song = test::scratchPath("long.wav");
    test::writeMusic(song, 60.0, -16.0);
    dropOnSongZone(song);
    ASSERT_TRUE(test::becomes([&] { return batch.hasCurrentFile(); }, 20000));
    QTest::mouseClick(window.importScreen()->startButton(), Qt::LeftButton);
    ASSERT_EQ(window.currentScreen(), window.processingScreen());

    QTest::mouseClick(window.processingScreen()->cancelButton(), Qt::LeftButton);
    ASSERT_NE(window.openMessageBox(), nullptr);
    QMessageBox* box = window.openMessageBox();
    EXPECT_EQ(box->text(), "Cancel processing?");
    ASSERT_NE(buttonOf(box, "Continue"), nullptr);
    QTest::mouseClick(buttonOf(box, "Continue"), Qt::LeftButton);
    EXPECT_EQ(window.currentScreen(), window.processingScreen());

    QTest::mouseClick(window.processingScreen()->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.openMessageBox() != nullptr; }, 2000));
    QTest::mouseClick(buttonOf(window.openMessageBox(), "Cancel"), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.currentScreen() == window.importScreen(); }, 5000));
    EXPECT_TRUE(test::becomes([&] { return !batch.hasCurrentFile() && !batch.isProcessing(); }, 20000));
}

TEST_F(MainWindowTest, CtrlQClosesTheWindow) {
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(test::becomes([&] { return !window.isVisible(); }, 2000));
}

} // namespace
} // namespace orvanta
