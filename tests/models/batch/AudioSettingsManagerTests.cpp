#include "models/batch/AudioSettingsManager.h"
#include "platform/PreferenceStore.h"

#include "support/TestApp.h"
#include <gtest/gtest.h>

using namespace orvanta;

namespace {
PreferenceStore reread() { return PreferenceStore(PreferenceStore::standardFilePath()); }
} // namespace

TEST(AudioSettingsManager, AnEmptyStoreGivesTheDefaultsAndKeepsOnlyThePair) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    AudioSettingsManager settings(store);
    EXPECT_EQ(settings.targetLoudness(), -8.0f);
    EXPECT_EQ(settings.limitThreshold(), -0.3f);
    EXPECT_EQ(settings.exportFormat(), ExportFormat::wav);
    EXPECT_FALSE(settings.useAnalyzer());

    PreferenceStore onDisk = reread();
    EXPECT_EQ(onDisk.floatValue("targetLoudness"), -8.0f);
    EXPECT_EQ(onDisk.floatValue("limitThreshold"), -0.3f);
    EXPECT_FALSE(onDisk.contains("exportFormat"));
}

TEST(AudioSettingsManager, StoredValuesAreReadBackAndTheFormatMatchesExactly) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    store.setFloat("targetLoudness", -11.5f);
    store.setFloat("limitThreshold", -1.0f);
    store.setString("exportFormat", "M4A");
    {
        AudioSettingsManager settings(store);
        EXPECT_EQ(settings.targetLoudness(), -11.5f);
        EXPECT_EQ(settings.limitThreshold(), -1.0f);
        EXPECT_EQ(settings.exportFormat(), ExportFormat::m4a);
        settings.setUseAnalyzer(true);
    }
    AudioSettingsManager afterRestart(store);
    EXPECT_FALSE(afterRestart.useAnalyzer()) << "never stored";

    for (const char* stored : {"m4a", "wav", "", "AAC"}) {
        store.setString("exportFormat", stored);
        EXPECT_EQ(AudioSettingsManager(store).exportFormat(), ExportFormat::wav) << stored;
    }
    store.setString("exportFormat", "WAV");
    EXPECT_EQ(AudioSettingsManager(store).exportFormat(), ExportFormat::wav);
}

// Every format survives a restart through its stored value; values of another spelling, and rates
// that are none, fall back as the old values did.
TEST(AudioSettingsManager, EveryFormatAndRateIsStoredAndReadBack) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    for (const ExportFormat format : allExportFormats) {
        AudioSettingsManager(store).chooseExportFormat(format);
        PreferenceStore onDisk = reread();
        EXPECT_EQ(AudioSettingsManager(onDisk).exportFormat(), format) << rawValue(format);
    }
    for (const char* stored : {"flac", "FLAC24", "WAV 16", "mp3"}) {
        store.setString("exportFormat", stored);
        EXPECT_EQ(AudioSettingsManager(store).exportFormat(), ExportFormat::wav) << stored;
    }

    AudioSettingsManager settings(store);
    EXPECT_EQ(settings.exportSampleRate(), 0) << "the song's own rate until one is chosen";
    settings.chooseExportSampleRate(48000);
    EXPECT_EQ(reread().floatValue("exportSampleRate"), 48000.0f);
    PreferenceStore onDisk = reread();
    EXPECT_EQ(AudioSettingsManager(onDisk).exportSampleRate(), 48000);
    settings.setExportSampleRate(12); // no rate: ignored
    EXPECT_EQ(settings.exportSampleRate(), 48000);
    for (const float stored : {-44100.0f, 44100.5f, 1e9f}) {
        store.setFloat("exportSampleRate", stored);
        EXPECT_EQ(AudioSettingsManager(store).exportSampleRate(), 0) << stored;
    }
}

TEST(AudioSettingsManager, AValueOfAnotherTypeCountsAsMissing) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    store.setString("targetLoudness", "loud");
    store.setFloat("limitThreshold", -2.0f);
    AudioSettingsManager settings(store);
    EXPECT_EQ(settings.targetLoudness(), -8.0f);
    EXPECT_EQ(settings.limitThreshold(), -2.0f);
    EXPECT_EQ(reread().floatValue("targetLoudness"), -8.0f);
}

TEST(AudioSettingsManager, ChangesNotifyButOnlyTheStoringHelpersWrite) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    AudioSettingsManager settings(store);
    int notifications = 0;
    const auto count = [&notifications] { ++notifications; };
    QObject::connect(&settings, &AudioSettingsManager::targetLoudnessChanged, count);
    QObject::connect(&settings, &AudioSettingsManager::limitThresholdChanged, count);
    QObject::connect(&settings, &AudioSettingsManager::exportFormatChanged, count);
    QObject::connect(&settings, &AudioSettingsManager::useAnalyzerChanged, count);

    settings.setTargetLoudness(-14.0f);
    settings.setLimitThreshold(-1.5f);
    settings.setExportFormat(ExportFormat::m4a);
    settings.setUseAnalyzer(true);
    settings.setTargetLoudness(-14.0f); // unchanged: no notification
    EXPECT_EQ(notifications, 4);
    EXPECT_EQ(reread().floatValue("targetLoudness"), -8.0f);
    EXPECT_FALSE(reread().contains("exportFormat"));

    settings.storeSettings();
    EXPECT_EQ(reread().floatValue("targetLoudness"), -14.0f);
    EXPECT_EQ(reread().floatValue("limitThreshold"), -1.5f);
    EXPECT_FALSE(reread().contains("exportFormat")) << "the pair is stored without the format";
    EXPECT_FALSE(reread().contains("useAnalyzer"));

    settings.storeExportFormat();
    EXPECT_EQ(reread().stringValue("exportFormat"), "M4A");
    settings.chooseExportFormat(ExportFormat::wav);
    EXPECT_EQ(settings.exportFormat(), ExportFormat::wav);
    EXPECT_EQ(reread().stringValue("exportFormat"), "WAV");

    settings.applyPreset(-6.0f, -0.1f);
    EXPECT_FALSE(settings.useAnalyzer());
    EXPECT_EQ(settings.targetLoudness(), -6.0f);
    EXPECT_EQ(reread().floatValue("targetLoudness"), -6.0f);
    EXPECT_EQ(reread().floatValue("limitThreshold"), -0.1f);
}

TEST(AudioSettingsManager, TheApplicationObjectsSettingsUseItsStore) {
    reread().setFloat("targetLoudness", -9.0f);
    test::TestApp app;
    EXPECT_EQ(&app.settings.store(), &app.store);
    EXPECT_EQ(app.settings.targetLoudness(), -9.0f);
}
