// The window under the offscreen platform: a drop from a file manager, a full master run through the
// screens' controls, the alerts as message boxes, export through the save dialog, the shortcuts.
#include "app/DropZoneWidget.h"
#include "app/ImportScreen.h"
#include "app/MainWindow.h"
#include "app/ProcessingScreen.h"
#include "app/ResultScreen.h"
#include "AssembledWindow.h"
#include "eq/EQSettings.h"
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
#include "support/CommandRunner.h"
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

class MainWindowTest : public testing::Test, protected test::AssembledWindow {
protected:
    void SetUp() override {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void TearDown() override {
        app.player.stop();
        settings.setUseAnalyzer(false);
        app.reference.clearReference();
    }

    void dropOnSongZone(const fs::path& file) { dropOn(window.importScreen()->songDropZone(), file); }

    // Drops `file` on the zone as a file manager does: a text/uri-list drag.
    static void dropOn(DropZoneWidget* zone, const fs::path& file) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        const QPointF centre = QRectF(zone->rect()).center();
        QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(zone, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(zone, &drop);
        EXPECT_TRUE(drop.isAccepted());
    }

    static QPushButton* buttonOf(QMessageBox* box, const QString& label) {
        for (QAbstractButton* button : box->buttons())
            if (button->text() == label) return qobject_cast<QPushButton*>(button);
        return nullptr;
    }

    static QPushButton* buttonIn(QWidget* parent, const QString& label) {
        for (QPushButton* button : parent->findChildren<QPushButton*>())
            if (button->text() == label) return button;
        return nullptr;
    }

    // Accepts the save dialog once it is open, with `destination`; false when none opened.
    bool acceptSaveDialog(const fs::path& destination) {
        if (!test::becomes([&] { return window.openFileDialog() != nullptr; }, 2000)) return false;
        QFileDialog* dialog = window.openFileDialog();
        fs::create_directories(destination.parent_path());
        dialog->setDirectory(QString::fromStdString(destination.parent_path().string()));
        dialog->selectFile(QString::fromStdString(destination.string()));
        static_cast<QDialog*>(dialog)->accept();
        return true;
    }

    // Accepts the open save dialog with `destination`; the export has finished when it returns true.
    bool saveThroughDialog(const fs::path& destination) {
        return acceptSaveDialog(destination) &&
               test::becomes([&] { return window.resultScreen()->isSavedNoticeVisible(); }, 20000);
    }

    bool masterFinished() {
        return test::becomes([&] { return window.currentScreen() == window.resultScreen(); }, 300000);
    }

    // Writes a song of `seconds`, drops it, starts and waits for the result screen.
    bool masterNewSong(const fs::path& song, double seconds) {
        test::writeMusic(song, seconds, -14.0);
        dropOnSongZone(song);
        if (!test::becomes([&] { return batch.hasCurrentFile(); }, 20000)) return false;
        QTest::mouseClick(window.importScreen()->startButton(), Qt::LeftButton);
        return masterFinished();
    }
};

TEST_F(MainWindowTest, ADroppedTextFileRaisesInvalidFileFormatUntilDismissed) {
    const fs::path text = test::scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    dropOnSongZone(text);
    ASSERT_TRUE(test::becomes([&] { return window.openMessageBox() != nullptr; }, 5000));
    QMessageBox* box = window.openMessageBox();
    EXPECT_EQ(box->text(), "Invalid file format");
    // The fixed text, then the reader's reason naming the file.
    EXPECT_TRUE(box->informativeText().startsWith(
        "The selected file is not a valid audio format. Please select a valid audio file.\n\n"));
    EXPECT_TRUE(box->informativeText().contains("notes.wav\" could not be opened as audio"))
        << box->informativeText().toStdString();
    ASSERT_EQ(box->buttons().size(), 1);
    QPushButton* ok = buttonOf(box, "OK");
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(model.hasAlert());
    EXPECT_TRUE(test::becomes([&] { return window.openMessageBox() == nullptr; }, 2000));
    EXPECT_FALSE(batch.hasCurrentFile());
    EXPECT_EQ(window.currentScreen(), window.importScreen());
}

TEST_F(MainWindowTest, ARemoteAudioUrlRaisesTheGeneralError) {
    QMimeData mime;
    mime.setUrls({QUrl("https://example.org/song.wav")});
    DropZoneWidget* zone = window.importScreen()->songDropZone();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(model.alertType(), AlertType::generalError);
    ASSERT_NE(window.openMessageBox(), nullptr);
    EXPECT_EQ(window.openMessageBox()->text(), "Error");
    EXPECT_EQ(window.openMessageBox()->informativeText(),
              "An error occurred while processing the file. Please try again.");
    EXPECT_FALSE(batch.hasCurrentFile());
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

TEST_F(MainWindowTest, MatchStrengthStepsAreStoredAndFollowTheModel) {
    QComboBox* strength = window.importScreen()->matchStrengthPicker();
    ASSERT_EQ(strength->count(), 3);
    EXPECT_EQ(strength->itemText(0), "Gentle");
    EXPECT_EQ(strength->itemText(2), "Full");
    EXPECT_EQ(strength->currentText(), "Gentle");

    strength->setCurrentIndex(2);
    emit strength->activated(2);
    EXPECT_EQ(app.reference.matchStrength(), 100.0f);
    EXPECT_EQ(PreferenceStore(PreferenceStore::standardFilePath()).floatValue(ReferenceTrackManager::matchStrengthKey),
              100.0f);

    // A strength between the steps (a run's own, or stored by hand) shows as one more item.
    app.reference.setMatchStrength(30.0f);
    EXPECT_EQ(strength->currentText(), "30 %");
    app.reference.setMatchStrength(50.0f);
    EXPECT_EQ(strength->currentText(), "Medium");
    EXPECT_EQ(strength->count(), 3);
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
    EXPECT_EQ(window.openFileDialog()->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(window.openFileDialog()->selectedFiles().value(0).endsWith("mysong (MASTER).wav"));
    const fs::path destination = test::scratchPath("exports/mysong (MASTER).wav");
    ASSERT_TRUE(saveThroughDialog(destination));
    EXPECT_EQ(test::contentsOf(destination), test::contentsOf(*batch.currentFile()->masterURL));
    EXPECT_EQ(test::contentsOf(song), songBytes);

    // Export All: a folder dialog, and the master lands in the folder under the proposed name.
    QTest::mouseClick(result->exportAllButton(), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.openFileDialog() != nullptr; }, 2000));
    QFileDialog* folders = window.openFileDialog();
    EXPECT_EQ(folders->windowTitle(), "Select a Folder to Save All Files");
    EXPECT_EQ(folders->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(folders->labelText(QFileDialog::Accept), "Select Folder");
    const fs::path folder = test::scratchPath("all");
    fs::create_directories(folder);
    folders->setDirectory(QString::fromStdString(folder.string()));
    folders->selectFile(QString::fromStdString(folder.string()));
    static_cast<QDialog*>(folders)->accept();
    ASSERT_TRUE(test::becomes([&] { return fs::exists(folder / "mysong (MASTER).wav") && !model.isExporting(); }, 20000));
    EXPECT_EQ(test::contentsOf(folder / "mysong (MASTER).wav"), test::contentsOf(*batch.currentFile()->masterURL));

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

// Every format on the picker exports: the file the save dialog names is what the format says. A
// format and a rate chosen before the start are those of the pass itself.
TEST_F(MainWindowTest, EveryFormatOnThePickerExportsThroughTheSaveDialog) {
    QComboBox* formats = window.importScreen()->formatPicker();
    QComboBox* rates = window.importScreen()->ratePicker();
    ASSERT_EQ(formats->count(), int(allExportFormats.size()));
    const int flac16 = formats->findText("FLAC 16-bit");
    const int rate48 = rates->findText("48 kHz");
    ASSERT_GE(flac16, 0);
    ASSERT_GE(rate48, 0);
    emit formats->activated(flac16);
    emit rates->activated(rate48);
    EXPECT_EQ(PreferenceStore(PreferenceStore::standardFilePath()).stringValue(exportFormatKey), "FLAC16");

    ASSERT_TRUE(masterNewSong(test::scratchPath("tune.wav"), 4.0));
    const auto probe = [](const fs::path& file) {
        const auto run = test::runProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                               "stream=codec_name,sample_fmt,sample_rate", "-of",
                                                               "csv=p=0", file.string()});
        return test::linesOf(run.standardOutput).empty() ? std::string() : test::linesOf(run.standardOutput).front();
    };
    EXPECT_EQ(probe(*batch.currentFile()->masterURL), "flac,s16,48000");

    const std::map<ExportFormat, std::string> expected = {
        {ExportFormat::wav, "pcm_s24le,s32,48000"}, {ExportFormat::wav16, "pcm_s16le,s16,48000"},
        {ExportFormat::wavFloat, "pcm_f32le,flt,48000"}, {ExportFormat::flac, "flac,s32,48000"},
        {ExportFormat::flac16, "flac,s16,48000"},     {ExportFormat::m4a, "aac,fltp,48000"},
        {ExportFormat::mp3, "mp3,fltp,48000"}};
    for (int i = 0; i < formats->count(); ++i) {
        emit formats->activated(i);
        const ExportFormat format = settings.exportFormat();
        window.activateWindow(); // the closed dialog had the focus
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
        const std::string name = "tune (MASTER)." + std::string(fileExtension(format));
        ASSERT_TRUE(test::becomes([&] { return window.openFileDialog() != nullptr; }, 2000)) << rawValue(format);
        EXPECT_TRUE(window.openFileDialog()->selectedFiles().value(0).endsWith(QString::fromStdString(name)));
        const fs::path destination = test::scratchPath("exports/" + std::string(rawValue(format)) + "/" + name);
        ASSERT_TRUE(acceptSaveDialog(destination));
        // The notice of the previous export may still show: the file and the idle model tell.
        ASSERT_TRUE(test::becomes([&] { return fs::exists(destination) && !model.isExporting(); }, 20000));
        EXPECT_FALSE(model.hasAlert()) << rawValue(format);
        EXPECT_EQ(probe(destination), expected.at(format)) << rawValue(format);
        EXPECT_EQ(window.importScreen()->noiseShapingBox()->isEnabled(), bitDepthOf(format) == 16) << rawValue(format);
    }

    // Noise shaping, once ticked, is stored and makes another 16-bit file of the same master.
    emit formats->activated(formats->findText("WAV 16-bit"));
    window.importScreen()->noiseShapingBox()->setChecked(true);
    EXPECT_EQ(PreferenceStore(PreferenceStore::standardFilePath()).boolValue(exportNoiseShapingKey), true);
    const fs::path shaped = test::scratchPath("exports/shaped.wav");
    ASSERT_TRUE(test::finishes(model.exportTo(shaped)));
    EXPECT_EQ(probe(shaped), expected.at(ExportFormat::wav16));
    const std::string flat = test::contentsOf(test::scratchPath("exports/WAV16/tune (MASTER).wav"));
    EXPECT_EQ(test::contentsOf(shaped).size(), flat.size());
    EXPECT_NE(test::contentsOf(shaped), flat);
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

TEST_F(MainWindowTest, WithAReferenceTheExportAsksWhichVersion) {
    const fs::path referenceFile = test::scratchPath("reference.wav");
    test::writeWav(referenceFile, test::replicate(test::whiteNoise(0.3, 44100 * 5, 7), 2), 44100);
    ReferenceTrackManager& reference = app.reference;
    dropOn(window.importScreen()->referenceDropZone(), referenceFile);
    ASSERT_TRUE(test::becomes([&] { return reference.hasProfile(); }, 20000));

    const fs::path song = test::scratchPath("mysong.wav");
    ASSERT_TRUE(masterNewSong(song, 6.0));
    ASSERT_TRUE(batch.isFinalMode());
    ASSERT_TRUE(batch.currentFile()->finalURL.has_value());
    EXPECT_EQ(window.resultScreen()->processedLoudnessText(),
              QString::asprintf("%.1f LUFS", double(batch.currentFile()->finalStats->lufs)));

    QTest::mouseClick(window.resultScreen()->exportButton(), Qt::LeftButton);
    ASSERT_NE(window.openMessageBox(), nullptr);
    QMessageBox* choice = window.openMessageBox();
    EXPECT_EQ(choice->text(), "Export Selection");
    EXPECT_EQ(choice->informativeText(), "Which version would you like to export?");
    ASSERT_EQ(choice->buttons().size(), 3);
    ASSERT_NE(buttonOf(choice, "Export FINAL"), nullptr);
    ASSERT_NE(buttonOf(choice, "Cancel"), nullptr);
    QTest::mouseClick(buttonOf(choice, "Export MASTER"), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.openFileDialog() != nullptr; }, 2000));
    EXPECT_TRUE(window.openFileDialog()->selectedFiles().value(0).endsWith("mysong (MASTER).wav"));
    const fs::path destination = test::scratchPath("exports/chosen.wav");
    ASSERT_TRUE(saveThroughDialog(destination));
    EXPECT_EQ(test::contentsOf(destination), test::contentsOf(*batch.currentFile()->masterURL));

    // Start over, then "Clear Reference" on the import screen forgets the profile.
    QTest::mouseClick(window.resultScreen()->startOverButton(), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.currentScreen() == window.importScreen(); }, 5000));
    QPushButton* clear = buttonIn(window.importScreen(), "Clear Reference");
    ASSERT_NE(clear, nullptr);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_FALSE(reference.hasProfile());
}

TEST_F(MainWindowTest, AnalyzerModeAnalysesTheDropAndMasteringRepairsIt) {
    const fs::path song = test::scratchPath("quiet.wav");
    test::writeMusic(song, 6.0, -20.0);
    const std::string songBytes = test::contentsOf(song);
    QCheckBox* analyzerMode = window.importScreen()->analyzerModeBox();
    QTest::mouseClick(analyzerMode, Qt::LeftButton, {}, QPoint(8, analyzerMode->height() / 2));
    ASSERT_TRUE(settings.useAnalyzer());
    dropOnSongZone(song);
    ASSERT_TRUE(test::becomes([&] { return window.analyzerPanel() != nullptr; }, 5000));
    EXPECT_TRUE(window.analyzerPanel()->isVisible());
    EXPECT_FALSE(batch.hasCurrentFile());
    ASSERT_TRUE(test::becomes([&] { return model.lastAnalysisResult().has_value(); }, 60000));

    QPushButton* repair = buttonIn(window.analyzerPanel(), "MASTERING?");
    ASSERT_NE(repair, nullptr);
    QTest::mouseClick(repair, Qt::LeftButton);
    ASSERT_TRUE(masterFinished());
    EXPECT_FALSE(settings.useAnalyzer());
    EXPECT_TRUE(store.contains(eqSettingsKey));
    EXPECT_TRUE(store.contains(activeEQSettingsKey));
    EXPECT_EQ(test::contentsOf(song), songBytes);

    QPushButton* close = buttonIn(window.analyzerPanel(), "Close");
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(test::becomes([&] { return window.analyzerPanel() == nullptr; }, 2000));
    EXPECT_FALSE(model.showAnalyzerPanel());
}

TEST_F(MainWindowTest, ThemeMenuRestylesAndWallpaperIsChosenThroughTheDialog) {
    ThemeManager& themes = app.themes;
    const QString before = window.styleSheet();
    QAction* ocean = nullptr;
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == "Cyan Blue") ocean = action;
    ASSERT_NE(ocean, nullptr);
    ocean->trigger();
    EXPECT_EQ(themes.currentThemeId(), "ocean");
    EXPECT_NE(window.styleSheet(), before);
    themes.setCurrentThemeId("original");

    const fs::path picture = test::scratchPath("wall.png");
    QImage image(64, 40, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(QString::fromStdString(picture.string())));
    QAction* choose = nullptr;
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == "Choose Wallpaper...") choose = action;
    ASSERT_NE(choose, nullptr);
    choose->trigger();
    ASSERT_NE(window.openFileDialog(), nullptr);
    window.openFileDialog()->selectFile(QString::fromStdString(picture.string()));
    static_cast<QDialog*>(window.openFileDialog())->accept();
    EXPECT_TRUE(wallpaper.hasWallpaper());
    EXPECT_EQ(wallpaperImageType(wallpaper.wallpaperData()), QString("png"));
    wallpaper.clearWallpaper();
}

TEST_F(MainWindowTest, CtrlQClosesTheWindow) {
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(test::becomes([&] { return !window.isVisible(); }, 2000));
}

} // namespace
} // namespace orvanta
