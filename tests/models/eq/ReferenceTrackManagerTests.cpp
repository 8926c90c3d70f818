#include "eq/MatchStrength.h"
#include "models/engine/BackgroundPool.h"
#include "models/eq/ReferenceTrackManager.h"
#include "platform/Error.h"
#include "platform/PreferenceStore.h"
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestApp.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

using namespace orvanta;
using namespace orvanta::test;

namespace {
const QVector<float> zeros(12, 0.0f);

PreferenceStore reread() { return PreferenceStore(PreferenceStore::standardFilePath()); }

SpectralProfile sampleProfile() {
    SpectralProfile profile;
    profile.frequencies = {20.0f, 2000.0f, 20000.0f};
    profile.magnitudes = {-10.0f, -20.0f, -30.0f};
    profile.referenceFileName = "reference.wav";
    profile.dateCreated = 786000000.5;
    profile.spectrum12Band = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1.5f, 0};
    return profile;
}

void storeRaw(PreferenceStore& store, const std::string& bytes) {
    store.setData(ReferenceTrackManager::userDefaultsKey, PreferenceStore::Data(bytes.begin(), bytes.end()));
}
} // namespace

TEST(ReferenceTrackManager, StartsEmpty) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    ReferenceTrackManager manager(store, pool);
    EXPECT_FALSE(manager.currentProfile());
    EXPECT_FALSE(manager.isEnabled());
    EXPECT_EQ(manager.referenceSpectrum(), zeros);
    EXPECT_EQ(manager.originalSpectrum(), zeros);
    EXPECT_EQ(manager.masteredSpectrum(), zeros);
    EXPECT_FALSE(manager.referenceLUFS());
    EXPECT_FALSE(manager.hasUsableReference());
}

TEST(ReferenceTrackManager, ASavedProfileSurvivesARestart) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    {
        ReferenceTrackManager manager(store, pool);
        manager.saveProfile(sampleProfile());
    }
    PreferenceStore fresh(PreferenceStore::standardFilePath());
    ReferenceTrackManager restarted(fresh, pool);
    ASSERT_TRUE(restarted.currentProfile());
    EXPECT_EQ(*restarted.currentProfile(), sampleProfile());
    EXPECT_EQ(restarted.referenceSpectrum(), QVector<float>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1.5f, 0}));
    EXPECT_EQ(restarted.referenceFileName(), "reference.wav");
    EXPECT_TRUE(restarted.hasUsableReference());
}

TEST(ReferenceTrackManager, ACorruptStoredProfileIsIgnored) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    SpectralProfile fewBands = sampleProfile();
    fewBands.spectrum12Band = {1, 2, 3};
    std::string missingKey = encodeSpectralProfile(sampleProfile());
    missingKey.replace(missingKey.find("\"dateCreated\""), 13, "\"created\"");
    for (const std::string& stored : {std::string("{not json"), std::string(), missingKey,
                                      encodeSpectralProfile(fewBands)}) {
        storeRaw(store, stored);
        ReferenceTrackManager manager(store, pool);
        EXPECT_FALSE(manager.currentProfile()) << stored;
        EXPECT_EQ(manager.referenceSpectrum(), zeros) << stored;
    }
    store.setString(ReferenceTrackManager::userDefaultsKey, encodeSpectralProfile(sampleProfile()));
    EXPECT_FALSE(ReferenceTrackManager(store, pool).currentProfile()) << "stored as data only";
}

TEST(ReferenceTrackManager, LoadingAReferenceFillsTheProfileAndStoresIt) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    const auto path = writeMusic(scratchPath("club reference.wav"), 12.0, -3.0);
    ReferenceTrackManager manager(store, pool);
    manager.setIsEnabled(true);
    int profileChanges = 0, spectrumChanges = 0;
    QObject::connect(&manager, &ReferenceTrackManager::currentProfileChanged, [&] { ++profileChanges; });
    QObject::connect(&manager, &ReferenceTrackManager::referenceSpectrumChanged, [&] { ++spectrumChanges; });

    QFuture<void> loading = manager.loadReference(path);
    ASSERT_TRUE(finishes(loading));
    EXPECT_NO_THROW(loading.waitForFinished());
    EXPECT_FALSE(loading.isCanceled());

    ASSERT_TRUE(manager.currentProfile());
    const SpectralProfile& profile = *manager.currentProfile();
    EXPECT_EQ(profile.referenceFileName, "club reference.wav");
    EXPECT_EQ(profile.frequencies.size(), 100u);
    EXPECT_EQ(profile.magnitudes.size(), 100u);
    ASSERT_EQ(profile.spectrum12Band.size(), 12u);
    EXPECT_EQ(manager.referenceSpectrum(), QVector<float>(profile.spectrum12Band.begin(), profile.spectrum12Band.end()));
    EXPECT_TRUE(manager.hasUsableReference());
    EXPECT_GT(profile.dateCreated, 0.0);
    EXPECT_EQ(profileChanges, 1);
    EXPECT_EQ(spectrumChanges, 1);

    const ReferenceAnalysis direct = analyzeReferenceFile(path);
    EXPECT_EQ(profile.spectrum12Band, direct.profile.spectrum12Band);
    EXPECT_EQ(profile.magnitudes, direct.profile.magnitudes);
    ASSERT_TRUE(manager.referenceLUFS());
    EXPECT_EQ(*manager.referenceLUFS(), direct.lufs);
    EXPECT_LT(*manager.referenceLUFS(), 0.0f);
    EXPECT_FALSE(manager.isEnabled()) << "the switch goes back off a second after loading";

    PreferenceStore fresh(PreferenceStore::standardFilePath());
    ReferenceTrackManager restarted(fresh, pool);
    ASSERT_TRUE(restarted.currentProfile());
    EXPECT_EQ(*restarted.currentProfile(), profile);
    EXPECT_TRUE(restarted.currentProfile()->tonalBalance) << "the balance survives a restart";
}

TEST(ReferenceTrackManager, AFailedLoadReachesTheFutureAndChangesNothing) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    const auto notAudio = scratchPath("notes.wav");
    std::ofstream(notAudio) << "these are not samples";
    ReferenceTrackManager manager(store, pool);
    manager.saveProfile(sampleProfile());
    manager.loadSavedProfile();
    manager.setIsEnabled(true);
    const auto storedBefore = reread().dataValue(ReferenceTrackManager::userDefaultsKey);

    for (const auto& path : {scratchPath("missing.wav"), notAudio}) {
        QFuture<void> loading = manager.loadReference(path);
        ASSERT_TRUE(finishes(loading));
        EXPECT_THROW(loading.waitForFinished(), Error) << path;
        ASSERT_TRUE(manager.currentProfile());
        EXPECT_EQ(*manager.currentProfile(), sampleProfile());
        EXPECT_EQ(manager.referenceSpectrum()[0], 1.0f);
        EXPECT_FALSE(manager.referenceLUFS());
        EXPECT_TRUE(manager.isEnabled());
        EXPECT_EQ(reread().dataValue(ReferenceTrackManager::userDefaultsKey), storedBefore);
    }
    EXPECT_TRUE(std::filesystem::exists(notAudio)) << "the user's file stays";
}

TEST(ReferenceTrackManager, AReferenceWithNothingToMatchIsRefusedAndChangesNothing) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    struct Case {
        const char* name;
        Channels channels;
        double rate;
        const char* reason;
    };
    const Case cases[] = {
        {"silent", replicate(silence(44100 * 3), 2), 44100.0, "silent"},
        {"10 ms", replicate(sine(1000.0, 0.5, 44100.0, 441), 2), 44100.0, "too short to measure"},
        {"one sample", {{0.5f}, {0.5f}}, 44100.0, "too short to measure"},
        // Long enough to measure, shorter than one 8192-sample analysis frame.
        {"0.6 s at 8 kHz", replicate(sine(1000.0, 0.5, 8000.0, 4800), 2), 8000.0, "spectrum"},
    };
    ReferenceTrackManager manager(store, pool);
    manager.saveProfile(sampleProfile());
    manager.loadSavedProfile();
    const auto storedBefore = reread().dataValue(ReferenceTrackManager::userDefaultsKey);
    for (const Case& c : cases) {
        const auto path = scratchPath("reference.wav");
        writeWav(path, c.channels, c.rate);
        QFuture<void> loading = manager.loadReference(path);
        ASSERT_TRUE(finishes(loading)) << c.name;
        try {
            loading.waitForFinished();
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const Error& error) {
            EXPECT_TRUE(error.is(referenceTrackDomain, referenceUnmatchableCode)) << c.name;
            EXPECT_NE(error.description().find("cannot be matched"), std::string::npos) << c.name;
            EXPECT_NE(error.description().find(c.reason), std::string::npos) << c.name << ": " << error.description();
        }
        ASSERT_TRUE(manager.currentProfile()) << c.name;
        EXPECT_EQ(*manager.currentProfile(), sampleProfile()) << c.name;
        EXPECT_FALSE(manager.referenceLUFS()) << c.name;
        EXPECT_EQ(reread().dataValue(ReferenceTrackManager::userDefaultsKey), storedBefore) << c.name;
    }
}

TEST(ReferenceTrackManager, ClearingForgetsTheProfileButKeepsTheLevels) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    ReferenceTrackManager manager(store, pool);
    manager.saveProfile(sampleProfile());
    manager.loadSavedProfile();
    manager.setIsEnabled(true);
    manager.clearReference();
    EXPECT_FALSE(manager.currentProfile());
    EXPECT_FALSE(manager.hasUsableReference());
    EXPECT_EQ(manager.referenceSpectrum()[9], 10.0f) << "kept; consumers check the profile first";
    EXPECT_TRUE(manager.isEnabled());
    EXPECT_FALSE(store.contains(ReferenceTrackManager::userDefaultsKey));
    EXPECT_FALSE(reread().contains(ReferenceTrackManager::userDefaultsKey));
    EXPECT_FALSE(ReferenceTrackManager(store, pool).currentProfile());
}

TEST(ReferenceTrackManager, FileSpectraGoToTheirListAndErrorsAreDropped) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    const auto path = writeMusic(scratchPath("song.wav"), 3.0);
    const BandLevels expected = ReferenceTrackManager::compute12BandSpectrum(path);
    ReferenceTrackManager manager(store, pool);

    QFuture<void> original = manager.analyzeFileSpectrum(path, true);
    ASSERT_TRUE(finishes(original));
    EXPECT_EQ(manager.originalSpectrum(), ReferenceTrackManager::toList(expected));
    EXPECT_EQ(manager.masteredSpectrum(), zeros);

    QFuture<void> mastered = manager.analyzeFileSpectrum(path, false);
    ASSERT_TRUE(finishes(mastered));
    EXPECT_EQ(manager.masteredSpectrum(), ReferenceTrackManager::toList(expected));

    QFuture<void> failing = manager.analyzeFileSpectrum(scratchPath("gone.wav"), true);
    ASSERT_TRUE(finishes(failing));
    EXPECT_NO_THROW(failing.waitForFinished());
    EXPECT_EQ(manager.originalSpectrum(), ReferenceTrackManager::toList(expected));

    QFuture<BandLevels> async = manager.compute12BandSpectrumAsync(scratchPath("gone.wav"));
    EXPECT_THROW(async.waitForFinished(), Error) << "no event loop needed for the plain analysis";

    manager.resetSpectra();
    EXPECT_EQ(manager.originalSpectrum(), zeros);
    EXPECT_EQ(manager.masteredSpectrum(), zeros);
}

TEST(ReferenceTrackManager, ALoadOutlivingItsManagerEndsCancelled) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    const auto path = writeMusic(scratchPath("reference.wav"), 2.0);
    auto manager = std::make_unique<ReferenceTrackManager>(store, pool);
    QFuture<void> loading = manager->loadReference(path);
    manager.reset();
    ASSERT_TRUE(finishes(loading, 30000));
    EXPECT_TRUE(loading.isCanceled());
}

TEST(ReferenceTrackManager, TheApplicationObjectsManagerReadsItsStore) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    ReferenceTrackManager(store, pool).saveProfile(sampleProfile());
    TestApp app;
    ASSERT_TRUE(app.reference.currentProfile());
    EXPECT_EQ(app.reference.referenceFileName(), "reference.wav");
}

TEST(ReferenceTrackManager, TheMatchStrengthRoundTripsUnderItsOwnKey) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    {
        ReferenceTrackManager manager(store, pool);
        EXPECT_EQ(manager.matchStrength(), gentleMatchStrength) << "nothing stored: the classic match";
        manager.saveProfile(sampleProfile());
        int changes = 0;
        QObject::connect(&manager, &ReferenceTrackManager::matchStrengthChanged, [&changes] { ++changes; });
        manager.setMatchStrength(50.0f);
        EXPECT_FALSE(reread().contains(ReferenceTrackManager::matchStrengthKey)) << "a run's own strength";
        manager.chooseMatchStrength(fullMatchStrength);
        manager.chooseMatchStrength(150.0f);
        manager.setMatchStrength(-1.0f);
        EXPECT_EQ(manager.matchStrength(), fullMatchStrength);
        EXPECT_EQ(changes, 2);
    }
    PreferenceStore fresh(PreferenceStore::standardFilePath());
    ReferenceTrackManager restarted(fresh, pool);
    EXPECT_EQ(restarted.matchStrength(), fullMatchStrength);
    ASSERT_TRUE(restarted.currentProfile());
    EXPECT_EQ(*restarted.currentProfile(), sampleProfile()) << "the profile keeps its own key";

    // The default itself survives a round trip through the file bit for bit.
    restarted.chooseMatchStrength(gentleMatchStrength);
    PreferenceStore again(PreferenceStore::standardFilePath());
    EXPECT_EQ(ReferenceTrackManager(again, pool).matchStrength(), gentleMatchStrength);
}

TEST(ReferenceTrackManager, AStoredStrengthThatMeansNothingIsGentle) {
    BackgroundPool pool;
    PreferenceStore store(PreferenceStore::standardFilePath());
    for (float stored : {-5.0f, 101.0f}) {
        store.setFloat(ReferenceTrackManager::matchStrengthKey, stored);
        EXPECT_EQ(ReferenceTrackManager(store, pool).matchStrength(), gentleMatchStrength) << stored;
    }
    store.setString(ReferenceTrackManager::matchStrengthKey, "Full");
    EXPECT_EQ(ReferenceTrackManager(store, pool).matchStrength(), gentleMatchStrength) << "stored as a float only";
    store.setFloat(ReferenceTrackManager::matchStrengthKey, 0.0f);
    EXPECT_EQ(ReferenceTrackManager(store, pool).matchStrength(), 0.0f);
}
