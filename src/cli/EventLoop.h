#pragma once

// The command line's Qt side: the models it drives live on a main thread with an event loop.

#include <QCoreApplication>
#include <QFuture>

namespace orvanta::cli {

// The process's QCoreApplication, created on first use. Main thread only.
QCoreApplication& ensureApplication();

// Runs the event loop until `future` has finished (the models finish their futures from it).
void waitFor(const QFuture<void>& future);

template <class T>
T waitForResult(const QFuture<T>& future) {
    waitFor(QFuture<void>(future));
    return future.result();
}

} // namespace orvanta::cli
