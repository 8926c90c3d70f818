#pragma once

// Models only (QtCore): hands work to the main thread's event loop.

#include "models/engine/HandOver.h"

#include <QCoreApplication>
#include <QFuture>
#include <QFutureInterface>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace orvanta {

// Queues `work` on the thread of `context` (the main thread for every manager). Calls posted from
// one thread run in the order they were posted. Nothing runs once `context` is destroyed.
template <typename Work>
void postTo(QObject* context, Work&& work) {
    [[maybe_unused]] HandOverScope scope; // takes the lock only under ThreadSanitizer
    QMetaObject::invokeMethod(context, receivedAfterHandOver(std::forward<Work>(work)), Qt::QueuedConnection);
}

namespace detail {

// Calls a continuation with what the finished `parent` carries, as QFuture::then does: the future
// itself if the continuation takes one, else its result (moved out when it cannot be copied).
template <typename T, typename Function>
auto callWithParent(Function& function, QFuture<T>& parent) {
    if constexpr (std::is_invocable_v<Function&, QFuture<T>>) {
        return std::invoke(function, parent);
    } else if constexpr (std::is_void_v<T>) {
        return std::invoke(function);
    } else if constexpr (std::is_copy_constructible_v<T>) {
        return std::invoke(function, parent.result());
    } else {
        return std::invoke(function, parent.takeResult());
    }
}

// The future a main-thread continuation fills. Ends cancelled if the continuation never ran (its
// receiver was gone, or the application dropped the queued call at exit), so nothing waits forever.
template <typename Result>
struct PendingContinuation {
    QFutureInterface<Result> promise;

    PendingContinuation() { promise.reportStarted(); }
    PendingContinuation(const PendingContinuation&) = delete;
    PendingContinuation& operator=(const PendingContinuation&) = delete;
    ~PendingContinuation() {
        if (!promise.isFinished()) {
            promise.reportCanceled();
            promise.reportFinished();
        }
    }
};

} // namespace detail

// `future.then(receiver, function)` without handing `receiver` to the thread that finishes `future`.
// QFuture::then(context, ...) checks its context on that thread and then posts to it: a context
// destroyed on the main thread in between receives the event in freed memory. Here the finishing
// thread posts to the application object only, and the main thread runs `function` only while
// `receiver` is alive; otherwise the returned future is cancelled. Apart from that it behaves as
// QFuture::then with a main-thread context: called directly when `future` finishes on the main
// thread, queued in finishing order otherwise; a cancelled or failed parent skips a continuation that
// takes a value (the exception passes on), one that takes the QFuture always runs; what `function`
// throws ends the returned future. Main thread.
template <typename T, typename Function>
auto thenOnMainThread(QFuture<T> future, QObject* receiver, Function&& function) {
    using Continuation = std::decay_t<Function>;
    using Result = decltype(detail::callWithParent(std::declval<Continuation&>(), std::declval<QFuture<T>&>()));
    constexpr bool takesFuture = std::is_invocable_v<Continuation&, QFuture<T>>;

    auto pending = std::make_shared<detail::PendingContinuation<Result>>();
    QFuture<Result> next = pending->promise.future();
    auto deliver = [pending, alive = QPointer<QObject>(receiver),
                    function = Continuation(std::forward<Function>(function))](QFuture<T> parent) mutable {
        if (!alive) {
            return;
        }
        QFutureInterface<Result>& promise = pending->promise;
        if constexpr (!takesFuture) {
            if (parent.isCanceled()) {
                try {
                    parent.waitForFinished(); // rethrows what the parent failed with
                    promise.reportCanceled();
                } catch (...) {
                    promise.reportException(std::current_exception());
                }
                promise.reportFinished();
                return;
            }
        }
        try {
            if constexpr (std::is_void_v<Result>) {
                detail::callWithParent(function, parent);
            } else {
                promise.reportAndMoveResult(detail::callWithParent(function, parent));
            }
        } catch (...) {
            promise.reportException(std::current_exception());
        }
        promise.reportFinished();
    };
    static_cast<void>(future.then(QtFuture::Launch::Sync, [deliver = std::move(deliver)](QFuture<T> parent) mutable {
        QObject* application = QCoreApplication::instance();
        if (application == nullptr) {
            return; // exiting: the pending future ends cancelled
        }
        if (QThread::currentThread() == application->thread()) {
            deliver(std::move(parent));
        } else {
            postTo(application, [deliver = std::move(deliver), parent = std::move(parent)]() mutable {
                deliver(std::move(parent));
            });
        }
    }));
    return next;
}

} // namespace orvanta
