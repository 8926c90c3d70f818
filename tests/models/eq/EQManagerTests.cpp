#include "models/app/AppContext.h"
#include "models/eq/EQManager.h"
#include "models/playback/PlaybackTestSupport.h"
#include "platform/PreferenceStore.h"

#include <gtest/gtest.h>

using namespace orvanta;
using namespace orvanta::test;

namespace {
bool identical(const EQSettings& a, const EQSettings& b) {
    return a == b && a.isAutoReferenceMode == b.isAutoReferenceMode;
}
} // namespace

TEST(EQManager, ResetRemovesTheStoredSettingsAndPushesTheDefaults) {
    auto player = makeNullPlayer();
    EQSettings matched = boostedEQ();
    matched.isAutoReferenceMode = true;
    player.manager->updateEQ(matched);

    PreferenceStore store(PreferenceStore::standardFilePath());
    saveEQSettings(store, matched, eqSettingsKey);
    saveEQSettings(store, matched, activeEQSettingsKey);
    store.setFloat("Orvanta_targetLUFS", -9.0f);

    EQManager manager(player.manager.get(), store);
    EXPECT_TRUE(identical(manager.eqSettings(), defaultEQSettings()));
    manager.setEqSettings(matched);
    manager.setIsVisible(true);
    manager.setIsAutoReferenceMode(true);
    manager.setHasEQModifications(true);
    manager.setIsEQDisabled(true);
    EXPECT_TRUE(identical(player.manager->currentEQSettings(), matched)) << "publishing does not push";

    manager.resetToDefaults();
    EXPECT_TRUE(identical(manager.eqSettings(), defaultEQSettings()));
    EXPECT_FALSE(manager.isAutoReferenceMode());
    EXPECT_FALSE(manager.hasEQModifications());
    EXPECT_FALSE(manager.isEQDisabled());
    EXPECT_TRUE(manager.isVisible()) << "visibility is the view's";
    EXPECT_TRUE(identical(player.manager->currentEQSettings(), defaultEQSettings()));

    EXPECT_FALSE(store.contains(eqSettingsKey));
    EXPECT_FALSE(store.contains(activeEQSettingsKey));
    PreferenceStore reread(PreferenceStore::standardFilePath());
    EXPECT_FALSE(reread.contains(eqSettingsKey));
    EXPECT_FALSE(reread.contains(activeEQSettingsKey));
    EXPECT_EQ(reread.floatValue("Orvanta_targetLUFS"), -9.0f) << "other preferences stay";
}

TEST(EQManager, ResetWorksWithoutAPlayer) {
    PreferenceStore store(PreferenceStore::standardFilePath());
    EQManager lonely(nullptr, store);
    lonely.setEqSettings(boostedEQ());
    lonely.resetToDefaults();
    EXPECT_TRUE(identical(lonely.eqSettings(), defaultEQSettings()));

    auto player = makeNullPlayer();
    EQManager orphan(player.manager.get(), store);
    player.manager.reset();
    EXPECT_EQ(orphan.audioPlayer(), nullptr) << "the link is weak";
    orphan.setEqSettings(boostedEQ());
    orphan.resetToDefaults();
    EXPECT_TRUE(identical(orphan.eqSettings(), defaultEQSettings()));
}

TEST(EQManager, TheApplicationObjectsManagerDrivesItsPlayer) {
    AppContext app;
    EQManager& manager = app.eq;
    EXPECT_EQ(manager.audioPlayer(), &app.player);
    app.player.updateEQ(boostedEQ());
    manager.resetToDefaults();
    EXPECT_TRUE(identical(app.player.currentEQSettings(), defaultEQSettings()));
}
