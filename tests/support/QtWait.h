#pragma once

// Waiting in tests that drive models: the models finish their futures and deliver their updates from
// the main thread's event loop, so the test keeps that loop running while it waits.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFuture>

namespace orvanta::test {

// Runs the event loop until the future is finished; false after the timeout.
template <typename T>
bool finishes(const QFuture<T>& future, int timeoutMilliseconds = 120000) {
    QElapsedTimer clock;
    clock.start();
    while (!future.isFinished() && clock.elapsed() < timeoutMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return future.isFinished();
}

// Runs the event loop until `condition()` holds; false after the timeout.
template <typename Condition>
bool becomes(Condition condition, int timeoutMilliseconds = 120000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

// Runs the event loop for about `milliseconds`.
inline void processEventsFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace orvanta::test
