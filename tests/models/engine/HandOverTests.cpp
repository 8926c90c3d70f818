// Work handed to the pool and back to the main thread: results, exceptions and order arrive intact,
// and (in the ThreadSanitizer build) everything written before the hand-over is seen after it.
#include "models/engine/BackgroundPool.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "support/QtWait.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace orvanta;

TEST(HandOver, PoolWorkReturnsItsResultOrItsOwnException) {
    BackgroundPool pool;
    // Captures written just before the hand-over, read on the pool thread.
    std::vector<float> samples(4096);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i);
    QFuture<double> sum = runOnPool(pool, [samples] {
        EXPECT_NE(QThread::currentThread(), QCoreApplication::instance()->thread());
        double total = 0.0;
        for (float s : samples) total += s;
        return total;
    });
    ASSERT_TRUE(test::finishes(sum));
    EXPECT_EQ(sum.result(), 4095.0 * 4096.0 / 2.0);

    // A move-only result is taken from the future; an exception comes back as itself.
    QFuture<std::unique_ptr<std::string>> owned = runOnPool(pool, [] { return std::make_unique<std::string>("kept"); });
    ASSERT_TRUE(test::finishes(owned));
    EXPECT_EQ(*owned.takeResult(), "kept");
    QFuture<void> failing = runOnPool(pool, [] { throw std::runtime_error("no such file"); });
    ASSERT_TRUE(test::finishes(failing));
    EXPECT_THROW(failing.waitForFinished(), std::runtime_error);
}

TEST(HandOver, CallsPostedFromAWorkerRunOnTheMainThreadInOrder) {
    BackgroundPool pool;
    QObject context;
    std::vector<int> arrived;
    QFuture<void> posting = runOnPool(pool, [&context, &arrived] {
        for (int i = 0; i < 200; ++i) {
            auto payload = std::make_shared<std::vector<int>>(16, i); // written here, read there
            postTo(&context, [&arrived, payload] {
                EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
                arrived.push_back(payload->back());
            });
        }
    });
    ASSERT_TRUE(test::finishes(posting));
    ASSERT_TRUE(test::becomes([&] { return arrived.size() == 200; }));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(arrived[size_t(i)], i);
}
