#pragma once

// The window as the application assembles it, over an application object, wallpaper manager and
// model of its own: for tests that drive the real screens.
#include "app/MainWindow.h"
#include "models/app/AppContext.h"
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

namespace orvanta::test {

struct AssembledWindow {
    AppContext app;
    PreferenceStore& store = app.store;
    AudioSettingsManager& settings = app.settings;
    BatchProcessor& batch = app.batch;
    WallpaperManager wallpaper{store};
    MainWindowModel model{batch, settings, app.player, app.reference, app.eq, store, app.hub, app.pool};
    MainWindow window{
        {model, batch, settings, app.player, app.reference, app.status, app.themes, app.hub, wallpaper, app.pool}};
};

} // namespace orvanta::test
