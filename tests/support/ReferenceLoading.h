#pragma once

// Loading a reference in tests of the passes that use it.

#include "models/eq/ReferenceTrackManager.h"
#include "support/QtWait.h"

#include <filesystem>

namespace orvanta::test {

// Starts loading `path` and runs the event loop until its analysis is in place (profile, spectrum,
// loudness); false if the load failed. It does not wait the further second until the reference switch
// goes back off, which no pass reads (ReferenceTrackManager's own tests check that second).
inline bool referenceApplied(ReferenceTrackManager& manager, const std::filesystem::path& path) {
    bool applied = false;
    const QMetaObject::Connection connection =
        QObject::connect(&manager, &ReferenceTrackManager::currentProfileChanged, [&] { applied = true; });
    const QFuture<void> loading = manager.loadReference(path);
    becomes([&] { return applied || loading.isFinished(); });
    QObject::disconnect(connection);
    return applied;
}

} // namespace orvanta::test
