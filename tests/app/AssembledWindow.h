#pragma once

// The window as the application assembles it, over the process's shared managers and a batch
// processor, wallpaper manager and model of its own: for tests that drive the real screens.
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
    PreferenceStore& store = PreferenceStore::standard();
    AudioSettingsManager& settings = AudioSettingsManager::shared();
    BatchProcessor batch;
    WallpaperManager wallpaper{store};
    MainWindowModel model{batch, settings, AudioPlayerManager::shared(), ReferenceTrackManager::shared(),
                          EQManager::shared(), store};
    MainWindow window{{model, batch, settings, AudioPlayerManager::shared(), ReferenceTrackManager::shared(),
                       ProcessingStatusManager::shared(), ThemeManager::shared(), wallpaper}};
};

} // namespace orvanta::test
