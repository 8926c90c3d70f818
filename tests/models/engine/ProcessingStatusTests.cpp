#include "models/engine/ProcessingStatusManager.h"
#include "models/engine/ProgressUpdater.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace orvanta;

namespace {
void drainEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
} // namespace

TEST(ProcessingStatusManager, CompletingAPendingItemKeepsItsIcon) {
    ProcessingStatusManager manager;
    manager.addChecklistItem("BPM", "circle.dotted");
    manager.completeChecklistItem("BPM", "128 BPM", "metronome", false);
    EXPECT_TRUE(manager.checklistItems().isEmpty()) << "changes are applied on the main thread's event loop";
    drainEvents();
    const auto items = manager.checklistItems();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].title, "BPM");
    EXPECT_EQ(items[0].value, "128 BPM");
    EXPECT_TRUE(items[0].isCompleted);
    EXPECT_EQ(items[0].icon, "circle.dotted");
}

TEST(ProcessingStatusManager, ChecklistOperationsOnUnknownAndResetLists) {
    ProcessingStatusManager manager;
    manager.completeChecklistItem("Output LUFS", "-8.0 LUFS", "speaker.wave.3.fill", true);
    manager.unhighlightChecklistItem("Final LUFS");
    drainEvents();
    ASSERT_EQ(manager.checklistItems().size(), 1);
    EXPECT_TRUE(manager.checklistItems()[0].isCompleted);
    EXPECT_TRUE(manager.checklistItems()[0].isHighlighted);

    manager.unhighlightChecklistItem("Output LUFS");
    manager.resetChecklist();
    manager.addChecklistItem("Input LUFS", "circle.dotted");
    drainEvents();
    ASSERT_EQ(manager.checklistItems().size(), 1);
    EXPECT_EQ(manager.checklistItems()[0].value, "...");
    EXPECT_FALSE(manager.checklistItems()[0].isCompleted);
}

TEST(ProcessingStatusManager, UpdatesFromAWorkerArriveInOrder) {
    ProcessingStatusManager manager;
    QStringList messages;
    QObject::connect(&manager, &ProcessingStatusManager::detailedMessageChanged,
                     [&] { messages << manager.detailedMessage(); });
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            manager.updateStage(ProcessingStage::multibandLimiting, "step " + std::to_string(i), "");
        }
    });
    worker.join();
    drainEvents();
    ASSERT_EQ(messages.size(), 50);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(messages[i], QString("step %1").arg(i));
    EXPECT_EQ(manager.currentStage(), ProcessingStage::multibandLimiting);
}

TEST(ProgressUpdater, DeliversThrottledValuesOnTheMainThread) {
    QObject context;
    QList<double> delivered;
    bool onMainThread = true;
    auto updater = ProgressUpdater::create(&context, [&](double value) {
        delivered << value;
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    std::thread worker([callback = updater->callback()] {
        for (int i = 0; i <= 1000; ++i) callback(i / 1000.0);
        callback(1.7);
    });
    worker.join();
    drainEvents();
    ASSERT_EQ(delivered.size(), 101);
    EXPECT_EQ(delivered.first(), 0.0);
    EXPECT_EQ(delivered.last(), 1.0);
    for (int i = 1; i < delivered.size(); ++i) EXPECT_GT(delivered[i], delivered[i - 1]);
    EXPECT_TRUE(onMainThread);
}

TEST(ProgressUpdater, NothingArrivesOnceTheUpdaterIsGone) {
    QObject context;
    int calls = 0;
    auto updater = ProgressUpdater::create(&context, [&](double) { ++calls; });
    updater->update(0.5);
    updater.reset();
    drainEvents();
    EXPECT_EQ(calls, 0);
}

// A worker may report at the very moment the main thread destroys the context: nothing reaches the
// callback from then on, and no report lands on the destroyed object.
TEST(ProgressUpdater, AContextDestroyedWhileAWorkerReportsGetsNothingMore) {
    for (int round = 0; round < 50; ++round) {
        auto context = std::make_unique<QObject>();
        std::atomic<bool> contextGone = false;
        std::atomic<int> callsAfterwards = 0;
        auto updater = ProgressUpdater::create(context.get(), [&](double) {
            if (contextGone) ++callsAfterwards;
        });
        std::atomic<bool> started = false;
        std::thread worker([&started, callback = updater->callback()] {
            for (int i = 0; i <= 1000; ++i) {
                callback(i / 1000.0);
                started = true;
            }
        });
        while (!started) std::this_thread::yield();
        context.reset();
        contextGone = true;
        worker.join();
        drainEvents();
        EXPECT_EQ(callsAfterwards, 0) << "round " << round;
    }
}
