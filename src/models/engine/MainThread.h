#pragma once

// Models only (QtCore): hands work to the main thread's event loop.

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace orvanta {

// Queues `work` on the thread of `context` (the main thread for every manager). Calls posted from
// one thread run in the order they were posted. Nothing runs once `context` is destroyed.
template <typename Work>
void postTo(QObject* context, Work&& work) {
#if defined(__SANITIZE_THREAD__)
    // Qt hands the queued call over under a lock of its own, which ThreadSanitizer does not see in a Qt
    // built without it: every capture written here and read by the receiving thread would be reported
    // as a race. Under ThreadSanitizer the hand-over also passes this lock: the receiver takes it
    // before it touches the work, and the poster holds it until the call is queued.
    static std::mutex handOver;
    std::lock_guard lock(handOver);
    QMetaObject::invokeMethod(
        context,
        [work = std::forward<Work>(work)]() mutable {
            { std::lock_guard received(handOver); }
            work();
        },
        Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::QueuedConnection);
#endif
}

} // namespace orvanta
