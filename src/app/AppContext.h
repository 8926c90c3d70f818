#pragma once

// Models only (QtCore).

#include "batch/AudioSettingsManager.h"
#include "batch/BatchProcessor.h"
#include "engine/ProcessingStatusManager.h"
#include "eq/EQManager.h"
#include "eq/ReferenceTrackManager.h"

namespace orvanta {

class AudioPlayerManager;
class PreferenceStore;

// The objects a window's process shares, built once by main and handed down to the models and
// screens that need them: the status of the processing screen, the mastering settings, the EQ and
// reference managers and the batch processor. Main thread; members are destroyed in reverse order,
// so the batch processor (which waits for its engine tasks) goes before what those tasks report to.
class AppContext {
public:
    // `store` and `player` must outlive the context.
    AppContext(PreferenceStore& store, AudioPlayerManager& player);

    PreferenceStore& store;
    AudioPlayerManager& player;
    ProcessingStatusManager status;
    AudioSettingsManager settings;
    EQManager eq;
    ReferenceTrackManager reference;
    BatchProcessor batch;
};

} // namespace orvanta
