#pragma once

// Waiting in tests that drive models: the models finish their futures and deliver their updates from
// the main thread's event loop, so the test keeps that loop running while it waits. The loop sleeps
// between events (a busy loop would take a core from the work under test) and checks every 2 ms.

#include <QEventLoop>
#include <QFuture>
#include <QTimer>

namespace orvanta::test {

// Runs the event loop until `condition()` holds; false after the timeout.
template <typename Condition>
bool becomes(Condition condition, int timeoutMilliseconds = 120000) {
    if (condition()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(timeoutMilliseconds);
    loop.exec();
    return condition();
}

// Runs the event loop until the future is finished; false after the timeout.
template <typename T>
bool finishes(const QFuture<T>& future, int timeoutMilliseconds = 120000) {
    return becomes([&] { return future.isFinished(); }, timeoutMilliseconds);
}

// Runs the event loop for about `milliseconds`.
inline void processEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace orvanta::test
