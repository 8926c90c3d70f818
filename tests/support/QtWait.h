#pragma once

// Waiting in tests that drive models: the models finish their futures and deliver their updates from
// the main thread's event loop, so the test keeps that loop running while it waits. The loop sleeps
// between events (a busy loop would take a core from the work under test) and wakes at least every
// 2 ms to check. It runs at the caller's level, not in a nested loop, so that objects deleted later
// by the code under test are deleted while the test waits, as in the application.

#include "models/engine/HandOver.h"
#include "support/VectorState.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFuture>
#include <QTimer>

namespace orvanta::test {

// Runs the event loop until `condition()` holds; false after the timeout.
template <typename Condition>
bool becomes(Condition condition, int timeoutMilliseconds = 120000) {
    const QDeadlineTimer deadline(timeoutMilliseconds, Qt::PreciseTimer);
    QTimer wakeUp;
    wakeUp.setTimerType(Qt::PreciseTimer);
    wakeUp.start(2);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    releaseVectorUpperHalves(); // the loop may have painted; the test computes next
    passHandOver();             // what finished work stored is read next (models/engine/HandOver.h)
    return condition();
}

// Runs the event loop until the future is finished; false after the timeout.
template <typename T>
bool finishes(const QFuture<T>& future, int timeoutMilliseconds = 120000) {
    return becomes([&] { return future.isFinished(); }, timeoutMilliseconds);
}

// Runs the event loop for about `milliseconds`.
inline void processEventsFor(int milliseconds) {
    becomes([] { return false; }, milliseconds);
}

} // namespace orvanta::test
