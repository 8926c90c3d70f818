#pragma once

// Models only (QtCore): work handed to another thread through Qt (a pool task, a queued call) in a
// way ThreadSanitizer can follow.

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <mutex>
#include <utility>

namespace orvanta {

#if defined(__SANITIZE_THREAD__)
// Qt hands pool tasks and queued calls over under locks of its own, which ThreadSanitizer does not see
// in a Qt built without it: every capture written by the poster and read by the receiving thread
// would be reported as a race. Under ThreadSanitizer the hand-over also passes this lock: the poster
// holds it until the work is queued, the receiver takes it before it touches the work.
inline std::mutex& handOverMutex() {
    static std::mutex mutex;
    return mutex;
}
#endif

// Wraps `work` so that, under ThreadSanitizer, the thread that runs it first passes the hand-over lock.
// Call it, and queue the result, while holding a HandOverScope.
template <typename Work>
auto receivedAfterHandOver(Work&& work) {
#if defined(__SANITIZE_THREAD__)
    return [work = std::forward<Work>(work)]() mutable {
        { std::lock_guard received(handOverMutex()); }
        return work();
    };
#else
    return std::forward<Work>(work);
#endif
}

// Held while work is queued for another thread (nothing outside ThreadSanitizer builds).
class HandOverScope {
public:
#if defined(__SANITIZE_THREAD__)
    HandOverScope() : lock_(handOverMutex()) {}

private:
    std::lock_guard<std::mutex> lock_;
#endif
};

// QtConcurrent::run(&pool, work): `work` runs on `pool`, ordered after everything the caller did
// before (for ThreadSanitizer too). Any thread.
template <typename Work>
auto runOnPool(QThreadPool& pool, Work&& work) {
    HandOverScope scope;
    return QtConcurrent::run(&pool, receivedAfterHandOver(std::forward<Work>(work)));
}

} // namespace orvanta
