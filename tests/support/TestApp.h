#pragma once

// Models only (QtCore).

#include "app/AppContext.h"
#include "platform/PreferenceStore.h"
#include "playback/AudioPlayerManager.h"

namespace orvanta::test {

// The application object a test case builds for itself, as main does: fresh managers over the
// process's preference store (emptied before every case) and the process's player.
struct TestApp : AppContext {
    TestApp() : AppContext(PreferenceStore::standard(), AudioPlayerManager::shared()) {}
};

} // namespace orvanta::test
