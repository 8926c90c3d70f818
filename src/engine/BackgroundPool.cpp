#include "engine/BackgroundPool.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace orvanta {

QThreadPool& backgroundPool() {
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        created->setObjectName(QStringLiteral("orvanta background"));
        return created; // never destroyed: late tasks may still finish while the process exits
    }();
    return *pool;
}

} // namespace orvanta
