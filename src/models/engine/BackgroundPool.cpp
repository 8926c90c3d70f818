#include "models/engine/BackgroundPool.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace orvanta {

QThreadPool& backgroundPool() {
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        pool.setObjectName(QStringLiteral("orvanta background"));
        // Tasks use the managers and the application: they finish while the application object is
        // torn down, as those of Qt's global pool do, not after the managers are gone.
        qAddPostRoutine([] { pool.waitForDone(); });
        return true;
    }();
    static_cast<void>(configured);
    return pool;
}

} // namespace orvanta
