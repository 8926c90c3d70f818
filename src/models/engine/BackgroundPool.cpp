#include "models/engine/BackgroundPool.h"

#include <QThread>

#include <algorithm>

namespace orvanta {

BackgroundPool::BackgroundPool() {
    setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    setObjectName(QStringLiteral("orvanta background"));
}

} // namespace orvanta
