#pragma once

// The window as the application assembles it, over an application object, wallpaper manager and
// model of its own: for tests that drive the real screens.
#include "app/AppContext.h"
#include "app/MainWindow.h"
#include "app/MainWindowModel.h"
#include "app/ThemeManager.h"
#include "app/WallpaperManager.h"
#include "batch/AudioSettingsManager.h"
#include "batch/BatchProcessor.h"
#include "engine/ProcessingStatusManager.h"
#include "eq/EQManager.h"
#include "eq/ReferenceTrackManager.h"
#include "platform/PreferenceStore.h"
#include "playback/AudioPlayerManager.h"

namespace orvanta::test {

struct AssembledWindow {
    AppContext app;
    PreferenceStore& store = app.store;
    AudioSettingsManager& settings = app.settings;
    BatchProcessor& batch = app.batch;
    WallpaperManager wallpaper{store};
    MainWindowModel model{batch, settings, app.player, app.reference, app.eq, store, app.hub};
    MainWindow window{{model, batch, settings, app.player, app.reference, app.status, app.themes, app.hub, wallpaper}};
};

} // namespace orvanta::test
