#pragma once

#include "engine/ProcessingTypes.h"
#include "engine/ProgressThrottle.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace orvanta {

// Throttled progress for one file: values pass the ProgressThrottle (clamped, hundredths, strictly
// increasing) on the caller's thread and reach `updateCallback` on the main thread, in order. `context`
// is a main-thread object whose life bounds the deliveries: queued deliveries hold the updater weakly
// and do nothing once it, or the context, is gone; the context may be destroyed while a worker
// reports. Make a new updater for every file.
class ProgressUpdater : public std::enable_shared_from_this<ProgressUpdater> {
public:
    static std::shared_ptr<ProgressUpdater> create(QObject* context, std::function<void(double)> updateCallback);

    // Any thread.
    void update(double progress);
    double lastProgress() const { return throttle_.lastProgress(); }
    // A ProgressCallback for the core that forwards to update() while this updater exists.
    ProgressCallback callback();

private:
    ProgressUpdater(QObject* context, std::function<void(double)> updateCallback);

    QPointer<QObject> context_;
    std::function<void(double)> updateCallback_;
    ProgressThrottle throttle_;
};

} // namespace orvanta
