#pragma once

// Models only (QtCore): hands work to the main thread's event loop.

#include "models/engine/HandOver.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace orvanta {

// Queues `work` on the thread of `context` (the main thread for every manager). Calls posted from
// one thread run in the order they were posted. Nothing runs once `context` is destroyed.
template <typename Work>
void postTo(QObject* context, Work&& work) {
    HandOverScope scope;
    QMetaObject::invokeMethod(context, receivedAfterHandOver(std::forward<Work>(work)), Qt::QueuedConnection);
}

} // namespace orvanta
