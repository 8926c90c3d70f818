#pragma once

// Models only (QtCore).

#include "models/app/NotificationHub.h"
#include "models/app/ThemeManager.h"
#include "models/batch/AudioSettingsManager.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/BackgroundPool.h"
#include "models/engine/ProcessingStatusManager.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "platform/PreferenceStore.h"

#include <filesystem>
#include <memory>

namespace orvanta {

class PlayerNode;

// The window's application object, built once by main (and by each test or benchmark that needs a
// window's worth of state) and handed down to the models and screens: the preference store, the
// notification hub, the pool that long work runs on, the player, the theme, the status of the
// processing screen, the mastering settings, the EQ and reference managers and the batch processor.
// Nothing of it is process-wide, so two contexts in one process are independent. Main thread. The
// pool's tasks are awaited first, then members are destroyed in reverse order, so the batch processor
// (which waits for its engine tasks) goes before what those tasks report to.
class AppContext {
public:
    // Preferences from `preferencesFile`; sound out of `output` (the default output when null).
    explicit AppContext(std::filesystem::path preferencesFile = PreferenceStore::standardFilePath(),
                        std::unique_ptr<PlayerNode> output = nullptr);
    ~AppContext();

    PreferenceStore store;
    NotificationHub hub;
    BackgroundPool pool;
    AudioPlayerManager player;
    ThemeManager themes;
    ProcessingStatusManager status;
    AudioSettingsManager settings;
    EQManager eq;
    ReferenceTrackManager reference;
    BatchProcessor batch;
};

} // namespace orvanta
