// Launch, preferences, themes, wallpaper and the temporary clean-up, on the real preference file and
// private temporary directory of the test process.
#include "models/app/AppLifecycle.h"
#include "models/app/AppPreferences.h"
#include "models/app/NotificationHub.h"
#include "models/app/TemporaryCleanup.h"
#include "models/app/ThemeManager.h"
#include "models/app/WallpaperManager.h"
#include "platform/Error.h"
#include "platform/PreferenceStore.h"
#include "platform/TemporaryDirectory.h"
#include "platform/TemporaryDirectory.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) { std::ofstream(path) << "x"; }

PreferenceStore freshStore() { return PreferenceStore(test::configDirectory() / "preferences.json"); }

TEST(AppPreferences, FirstReadWritesTheLoudDefaultsAndWrongTypesFallBack) {
    PreferenceStore store = freshStore();
    const MasteringPreferences first = readMasteringPreferences(store);
    EXPECT_FLOAT_EQ(first.targetLoudness, -8.0f);
    EXPECT_FLOAT_EQ(first.limitThreshold, -0.3f);
    PreferenceStore reread(store.filePath());
    EXPECT_EQ(reread.floatValue("targetLoudness"), -8.0f);
    EXPECT_EQ(reread.floatValue("limitThreshold"), -0.3f);

    reread.setFloat("targetLoudness", -10.0f);
    reread.setString("limitThreshold", "loud");
    const MasteringPreferences second = readMasteringPreferences(reread);
    EXPECT_FLOAT_EQ(second.targetLoudness, -10.0f);
    EXPECT_FLOAT_EQ(second.limitThreshold, -0.3f);

    EXPECT_TRUE(readShowReport(reread));
    reread.setString(showReportKey, "no");
    EXPECT_TRUE(readShowReport(reread));
    storeShowReport(reread, false);
    EXPECT_FALSE(readShowReport(PreferenceStore(store.filePath())));
}

TEST(AppLifecycle, LaunchRemovesStoredEQAndShutdownRemovesEveryTemporaryAudioFile) {
    PreferenceStore store = freshStore();
    store.setData("ActiveEQSettings", {'{', '}'});
    store.setData("EQSettings", {'{', '}'});
    NotificationHub hub;
    int refreshes = 0;
    AppLifecycle lifecycle(store, hub, [&] { ++refreshes; });
    lifecycle.applicationDidFinishLaunching();
    EXPECT_FALSE(PreferenceStore(store.filePath()).contains("ActiveEQSettings"));
    EXPECT_FALSE(store.contains("EQSettings"));
    EXPECT_EQ(refreshes, 1);
    hub.postThemeDidChange();
    EXPECT_EQ(refreshes, 2);
    EXPECT_TRUE(AppLifecycle::applicationShouldTerminateAfterLastWindowClosed());

    const fs::path song = privateTemporaryDirectory() / "song.wav";
    touch(song);
    lifecycle.applicationWillTerminate();
    EXPECT_FALSE(fs::exists(song));
    EXPECT_FALSE(lifecycle.isObservingTheme());
    hub.postThemeDidChange();
    EXPECT_EQ(refreshes, 2);
}

TEST(TemporaryCleanup, KeepsSourcesUnlessAllAndNeverTouchesOtherFiles) {
    const fs::path dir = privateTemporaryDirectory(); // created on first use
    for (const char* name : {"song_master.wav", "take_final.m4a", "song.wav", "notes_master.txt", "LOUD_final.FLAC"}) {
        touch(dir / name);
    }
    fs::create_directory(dir / "folder_master.wav");
    // A file in the shared system temp root that looks like one of ours.
    const fs::path shared = fs::path("/tmp") / ("orvanta-cleanup-test-" + std::to_string(getpid()) + "_master.wav");
    touch(shared);

    cleanUpTemporaryFiles(false);
    EXPECT_FALSE(fs::exists(dir / "song_master.wav"));
    EXPECT_FALSE(fs::exists(dir / "take_final.m4a"));
    EXPECT_FALSE(fs::exists(dir / "LOUD_final.FLAC"));
    EXPECT_TRUE(fs::exists(dir / "song.wav"));
    EXPECT_TRUE(fs::exists(dir / "notes_master.txt"));

    cleanUpTemporaryFiles(true);
    EXPECT_FALSE(fs::exists(dir / "song.wav"));
    EXPECT_TRUE(fs::exists(dir / "notes_master.txt"));
    EXPECT_TRUE(fs::is_directory(dir / "folder_master.wav"));
    EXPECT_TRUE(fs::exists(shared));
    fs::remove(shared);

    cleanUpTemporaryFiles(test::scratchPath("missing-folder"), true); // silent
}

TEST(ThemeManager, StoresTheChoiceAndFallsBackToOriginal) {
    PreferenceStore store = freshStore();
    NotificationHub hub;
    {
        ThemeManager manager(store, hub);
        EXPECT_EQ(manager.currentThemeId(), "original");
        ASSERT_EQ(manager.availableThemes().size(), 4);
        EXPECT_EQ(manager.availableThemes()[2].name, "Black & Gold");
        QSignalSpy posted(&hub, &NotificationHub::themeDidChange);
        QSignalSpy changed(&manager, &ThemeManager::currentThemeChanged);
        manager.setCurrentThemeId("forest");
        EXPECT_EQ(manager.currentTheme().name, "Emerald Green");
        EXPECT_EQ(posted.count(), 1);
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(PreferenceStore(store.filePath()).stringValue("selectedThemeId"), "forest");
    }
    EXPECT_EQ(ThemeManager(store, hub).currentThemeId(), "forest");

    store.setString("selectedThemeId", "neon");
    EXPECT_EQ(ThemeManager(store, hub).currentThemeId(), "original");
    store.setBool("selectedThemeId", true);
    EXPECT_EQ(ThemeManager(store, hub).currentThemeId(), "original");

    ThemeManager manager(store, hub);
    manager.setCurrentThemeId("ocean");
    manager.setCurrentThemeId("unknown");
    EXPECT_EQ(manager.currentThemeId(), "original");
    EXPECT_EQ(store.stringValue("selectedThemeId"), "original");
}

TEST(WallpaperManager, AcceptsImagesRejectsTextAndClears) {
    PreferenceStore store = freshStore();
    WallpaperManager manager(store);
    EXPECT_FALSE(manager.hasWallpaper());

    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
    ASSERT_EQ(wallpaperImageType(png), QStringLiteral("png"));
    manager.setWallpaperData(png);
    EXPECT_TRUE(manager.hasWallpaper());
    EXPECT_TRUE(WallpaperManager(store).hasWallpaper());

    const fs::path text = test::scratchPath("notes.png");
    std::ofstream(text) << "just some words, not an image";
    EXPECT_THROW(manager.setWallpaperFromFile(text), Error);
    EXPECT_THROW(manager.setWallpaperData(QByteArray()), Error);
    EXPECT_EQ(manager.wallpaperData(), png); // the previous image stays
    EXPECT_TRUE(fs::exists(text));

    EXPECT_EQ(wallpaperImageType(QByteArray("\xff\xd8\xff\xe0", 4)), QStringLiteral("jpeg"));
    EXPECT_EQ(wallpaperImageType(QByteArray("MM\0*\0\0\0\x08", 8)), QStringLiteral("tiff"));
    EXPECT_EQ(wallpaperImageType(QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24)), QStringLiteral("heic"));
    EXPECT_EQ(wallpaperImageType(QByteArray("\0\0\0\x14" "ftypmif1\0\0\0\0mif1", 20)), QStringLiteral("heif"));
    EXPECT_FALSE(wallpaperImageType(QByteArray("\0\0\0\x14" "ftypM4A \0\0\0\0isom", 20)));

    manager.clearWallpaper();
    EXPECT_FALSE(manager.hasWallpaper());
    EXPECT_FALSE(store.contains("Orvanta_customWallpaper"));
}

} // namespace
} // namespace orvanta
