// Continuations of pool work that run on the main thread for a receiver: what they get, what their
// future carries, and that a receiver destroyed while its work finishes is never reached.
#include "models/engine/BackgroundPool.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "support/QtWait.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace orvanta;

namespace {

bool onMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// A receiver whose own memory the continuation writes, so that a call after its destruction is a
// use of freed memory (and a crash or an AddressSanitizer report), not a silent no-op.
class Receiver : public QObject {
public:
    std::vector<int> seen = std::vector<int>(64, 0);
};

} // namespace

TEST(MainThreadContinuation, PassesResultsExceptionsAndOrderAsThenDoes) {
    BackgroundPool pool;
    QObject receiver;

    // A value reaches the continuation on the main thread; what it returns ends the next future.
    QFuture<std::string> text = thenOnMainThread(runOnPool(pool, [] { return 21; }), &receiver, [](int half) {
        EXPECT_TRUE(onMainThread());
        return std::to_string(half * 2);
    });
    ASSERT_TRUE(test::finishes(text));
    EXPECT_EQ(text.result(), "42");

    // A move-only result is handed over; a failed parent skips a continuation that takes a value and
    // passes its own exception on; one that takes the future sees the exception itself.
    QFuture<size_t> length = thenOnMainThread(runOnPool(pool, [] { return std::make_unique<std::string>("kept"); }),
                                              &receiver, [](std::unique_ptr<std::string> owned) { return owned->size(); });
    bool skippedRan = false;
    QFuture<void> skipped = thenOnMainThread(runOnPool(pool, [] { throw std::runtime_error("no such file"); }), &receiver,
                                             [&skippedRan] { skippedRan = true; });
    QFuture<std::string> caught =
        thenOnMainThread(runOnPool(pool, []() -> int { throw std::runtime_error("cut short"); }), &receiver,
                         [](QFuture<int> parent) -> std::string {
                             try {
                                 return std::to_string(parent.result());
                             } catch (const std::runtime_error& error) {
                                 return error.what();
                             }
                         });
    QFuture<void> throwing = thenOnMainThread(runOnPool(pool, [] {}), &receiver, [] { throw std::logic_error("late"); });
    ASSERT_TRUE(test::finishes(length) && test::finishes(skipped) && test::finishes(caught) && test::finishes(throwing));
    EXPECT_EQ(length.result(), 4u);
    EXPECT_FALSE(skippedRan);
    EXPECT_THROW(skipped.waitForFinished(), std::runtime_error);
    EXPECT_EQ(caught.result(), "cut short");
    EXPECT_THROW(throwing.waitForFinished(), std::logic_error);

    // Work finished in order on one pool thread is delivered in that order (held back until every
    // continuation is attached: one attached to finished work runs at once).
    BackgroundPool single;
    single.setMaxThreadCount(1);
    std::atomic<bool> go{false};
    std::vector<int> arrived;
    std::vector<QFuture<void>> delivered;
    for (int i = 0; i < 100; ++i) {
        QFuture<int> work = runOnPool(single, [i, &go] {
            while (!go.load(std::memory_order_acquire)) QThread::yieldCurrentThread();
            return i;
        });
        delivered.push_back(thenOnMainThread(work, &receiver, [&arrived](int value) { arrived.push_back(value); }));
    }
    go.store(true, std::memory_order_release);
    ASSERT_TRUE(test::finishes(delivered.back()));
    ASSERT_EQ(arrived.size(), 100u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(arrived[size_t(i)], i);

    // A future already finished on the main thread continues at once, as a continuation with a
    // context on this thread does, and a chain of them stays on the main thread.
    int direct = 0;
    QFuture<int> chained = thenOnMainThread(text, &receiver, [](const std::string& value) { return int(value.size()); });
    static_cast<void>(thenOnMainThread(chained, &receiver, [&direct](int value) { direct = value; }));
    EXPECT_EQ(direct, 2);
}

TEST(MainThreadContinuation, AReceiverDestroyedWhileItsWorkFinishesIsNeverReached) {
    BackgroundPool pool;
    // Each round releases pool work and destroys its receiver at the same moment, so that the pool
    // thread finishes the future while the main thread is in the receiver's destructor.
    constexpr int rounds = 20000;
    std::atomic<int> released{-1};
    int reached = 0;
    int cancelled = 0;
    std::vector<QFuture<void>> continuations;
    continuations.reserve(rounds);
    for (int round = 0; round < rounds; ++round) {
        auto* receiver = new Receiver;
        QFuture<int> work = runOnPool(pool, [&released, round] {
            while (released.load(std::memory_order_acquire) < round) QThread::yieldCurrentThread();
            return round;
        });
        continuations.push_back(thenOnMainThread(work, receiver, [receiver, &reached](int value) {
            receiver->seen[size_t(value) % receiver->seen.size()] = value;
            ++reached;
        }));
        released.store(round, std::memory_order_release);
        delete receiver;
        if (round % 100 == 99) QCoreApplication::processEvents();
    }
    for (const QFuture<void>& continuation : continuations) {
        ASSERT_TRUE(test::finishes(continuation));
        cancelled += continuation.isCanceled() ? 1 : 0;
    }
    EXPECT_EQ(reached, 0);
    EXPECT_EQ(cancelled, rounds);

    // Nothing queued for a receiver is left over for the loop to deliver.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reached, 0);
}
