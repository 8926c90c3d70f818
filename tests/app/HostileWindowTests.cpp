// The window with hostile but fair input: special files dropped or opened, a pass that fails for a
// reason the user must see, and custom settings outside their ranges.
#include "app/MainWindow.h"
#include "app/ProcessingScreen.h"
#include "AssembledWindow.h"
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
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

class HostileWindowTest : public testing::Test, protected test::AssembledWindow {
protected:
    void SetUp() override {
        window.resize(1024, 700);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Drops `file` as the drop zone and "Open..." both do, and waits for the alert it raises.
    QString alertTextFor(const fs::path& file) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(test::finishes(model.dropFile(file), 10000)) << file;
        EXPECT_LT(clock.elapsed(), 5000) << file << " kept the window waiting";
        EXPECT_EQ(model.alertType(), AlertType::invalidFileFormat) << file;
        EXPECT_FALSE(batch.hasCurrentFile());
        QMessageBox* box = window.openMessageBox();
        const QString text = box != nullptr ? box->informativeText() : QString();
        model.answerAlert(QStringLiteral("OK"));
        return text;
    }
};

TEST_F(HostileWindowTest, SpecialFilesAreRefusedWithTheReasonAndAPipeNeverBlocks) {
    const fs::path pipe = test::scratchPath("pipe.wav");
    test::makeNamedPipe(pipe);
    const fs::path folder = test::scratchPath("album.wav");
    fs::create_directories(folder);
    const fs::path wide = test::scratchPath("wide.wav");
    test::writeWav(wide, test::Channels(40, std::vector<float>(100, 0.1f)), 8000.0, test::SampleFormat::pcm16);

    const std::vector<std::pair<fs::path, QString>> cases = {
        {pipe, "is a named pipe (FIFO), not an audio file"},
        {folder, "is a folder, not an audio file"},
        {"/dev/zero", "is a character device, not an audio file"},
        {wide, "has 40 channels, at most 32 are supported"},
    };
    for (const auto& [file, reason] : cases) {
        const QString text = alertTextFor(file);
        // The fixed text of the alert first, then what was wrong with this file.
        EXPECT_TRUE(text.startsWith("The selected file is not a valid audio format.")) << text.toStdString();
        EXPECT_TRUE(text.contains(reason)) << text.toStdString();
    }
}

TEST_F(HostileWindowTest, AFailedPassShowsTheEnginesReason) {
    const fs::path song = test::writeMusic(test::scratchPath("song.wav"), 20.0, -6.0);
    ASSERT_TRUE(test::finishes(model.dropFile(song)));
    ASSERT_TRUE(batch.hasCurrentFile());
    // The pass files go to a disk too small for them.
    const test::SmallFileSystem small(test::scratchPath("small"), 2 << 20);
    if (!small.mounted()) GTEST_SKIP() << small.failure();
    const char* previous = std::getenv("ORVANTA_TEMP_DIR");
    const std::string restore = previous != nullptr ? previous : "";
    ::setenv("ORVANTA_TEMP_DIR", (test::scratchPath("small") / "orvanta").c_str(), 1);
    ASSERT_TRUE(test::finishes(model.start(), 120000));
    ::setenv("ORVANTA_TEMP_DIR", restore.c_str(), 1);

    ASSERT_EQ(batch.currentFile()->processingStatus, AudioFile::ProcessingStatus::failed);
    ASSERT_TRUE(batch.lastError().has_value());
    const QString failure = window.processingScreen()->failureText();
    EXPECT_TRUE(failure.contains("No space left on device")) << failure.toStdString();
    EXPECT_TRUE(failure.contains("Cancel to start over")) << failure.toStdString();
}

TEST_F(HostileWindowTest, CustomSettingsAreBoundedLikeTheCommandLine) {
    store.setFloat("targetLoudness", -200.0f);
    store.setFloat("limitThreshold", 5.0f);
    AudioSettingsManager stored(store);
    EXPECT_EQ(stored.targetLoudness(), -30.0f);
    EXPECT_EQ(stored.limitThreshold(), 0.0f);

    stored.setTargetLoudness(10.0f);
    EXPECT_EQ(stored.targetLoudness(), -3.0f);
    stored.setLimitThreshold(-100.0f);
    EXPECT_EQ(stored.limitThreshold(), -6.0f);
    stored.setTargetLoudness(std::nanf(""));
    EXPECT_EQ(stored.targetLoudness(), -3.0f) << "not a number changes nothing";
    stored.setTargetLoudness(-14.0f);
    EXPECT_EQ(stored.targetLoudness(), -14.0f);
}

} // namespace
} // namespace orvanta
