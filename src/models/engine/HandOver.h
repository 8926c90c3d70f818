#pragma once

// Models only (QtCore): work handed to another thread through Qt (a pool task, a queued call) in a
// way ThreadSanitizer can follow.

#include <QFuture>
#include <QFutureInterface>
#include <QThreadPool>

#include <exception>
#include <mutex>
#include <type_traits>
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

// Passes the hand-over lock (nothing outside ThreadSanitizer builds). A pool task passes it once more
// after its result or exception is stored and before it reports itself finished, so that a thread
// that saw the task finished and then passes it too reads that result in an order ThreadSanitizer sees
// (Qt's future hands it over under a lock of its own).
inline void passHandOver() {
#if defined(__SANITIZE_THREAD__)
    std::lock_guard passed(handOverMutex());
#endif
}

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

// Runs `work` on `pool`, ordered after everything the caller did before (for ThreadSanitizer too).
// The future carries what it returns, or the exception it threw (result() and waitForFinished()
// rethrow the original). Not QtConcurrent::run: its task reads the work's captures before any code of
// ours runs on the pool thread, so no hand-over lock could order those reads. The task holds a
// QFutureInterface, as QtConcurrent's does, not a QPromise: a QPromise destroyed on the pool thread
// right after it finished clears the continuations that the caller may be attaching at that moment.
// Any thread.
template <typename Work>
auto runOnPool(QThreadPool& pool, Work&& work) {
    using Result = std::invoke_result_t<std::decay_t<Work>&>;
    [[maybe_unused]] HandOverScope scope; // takes the lock only under ThreadSanitizer
    QFutureInterface<Result> promise;
    promise.reportStarted();
    QFuture<Result> future = promise.future();
    pool.start(receivedAfterHandOver([promise, work = std::forward<Work>(work)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
            } else {
                promise.reportAndMoveResult(work());
            }
        } catch (...) {
            promise.reportException(std::current_exception());
        }
        passHandOver();
        promise.reportFinished();
    }));
    return future;
}

} // namespace orvanta
