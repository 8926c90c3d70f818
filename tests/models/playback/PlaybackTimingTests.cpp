// Real-time behaviour on the null output: playback ends when the audio would have ended, the EQ chain
// keeps a chunk queued at all times, and pausing holds the position. The tolerances allow for a machine
// busy with other tests: a woken thread is late by milliseconds, not by the tens they allow.
#include "PlaybackTestSupport.h"

#include "models/engine/MainThread.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace orvanta;
using namespace orvanta::test;
using namespace std::chrono_literals;

TEST(PlaybackTiming, ASongThroughTheEQEndsOnTimeWithoutGaps) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    // 96 kHz: 144000 frames, three chunks of at most 65536.
    manager.loadFile(writeMusic(scratchPath("song.wav"), 1.5, 0.0, 1, 96000.0));
    ASSERT_EQ(manager.totalFrameCount(), 144000u);
    manager.updateEQ(boostedEQ());

    QElapsedTimer clock;
    clock.start();
    manager.play();
    ASSERT_TRUE(runEventsUntil([&] { return manager.playbackState() == PlaybackState::stopped; }, 5000ms));
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    EXPECT_NEAR(elapsed, 1.5, 0.3);

    ASSERT_TRUE(runEventsUntil([&] {
        const auto log = player.node->log();
        return !log.empty() && log.back().finishedAt.has_value();
    }, 1000ms));
    const auto log = player.node->log();
    ASSERT_EQ(log.size(), 3u);
    uint64_t frames = 0;
    for (size_t k = 0; k < log.size(); ++k) {
        EXPECT_EQ(log[k].kind, NullPlayerNode::ItemKind::buffer);
        EXPECT_FALSE(log[k].dropped);
        ASSERT_TRUE(log[k].finishedAt.has_value());
        frames += log[k].frames;
        if (k > 0) {
            EXPECT_LT(log[k].scheduledAt, *log[k - 1].finishedAt)
                << "chunk " << k << " was scheduled "
                << secondsBetween(*log[k - 1].finishedAt, log[k].scheduledAt) << " s after chunk " << k - 1
                << " finished";
            EXPECT_EQ(*log[k].startedAt, *log[k - 1].finishedAt) << "chunk " << k << " follows without a gap";
        }
    }
    EXPECT_EQ(frames, 144000u);
    EXPECT_NEAR(secondsBetween(*log.front().startedAt, *log.back().finishedAt), 1.5, 1e-6);
}

TEST(PlaybackTiming, ADirectSegmentEndsOnTime) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeRamp("one.wav", 1.0));
    QElapsedTimer clock;
    clock.start();
    manager.play();
    ASSERT_TRUE(runEventsUntil([&] { return manager.playbackState() == PlaybackState::stopped; }, 4000ms));
    EXPECT_NEAR(double(clock.nsecsElapsed()) / 1e9, 1.0, 0.3);
    EXPECT_EQ(manager.currentProgress(), 0.0f);
    EXPECT_EQ(manager.currentSeekPosition(), 0.0);
}

TEST(PlaybackTiming, PauseAndResumeKeepThePosition) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeRamp("two.wav", 2.0));
    manager.play();
    runEventsFor(600ms);
    manager.pause();
    const float pausedAt = manager.currentProgress();
    EXPECT_NEAR(manager.currentSeekPosition(), 0.6, 0.1);
    EXPECT_NEAR(pausedAt, manager.currentSeekPosition() / 2.0, 1e-6);

    runEventsFor(500ms);
    EXPECT_EQ(manager.currentProgress(), pausedAt) << "the position holds while paused";
    EXPECT_EQ(manager.playbackState(), PlaybackState::paused);

    manager.play();
    EXPECT_EQ(player.node->log().size(), 1u) << "resumed, not rescheduled";
    runEventsFor(400ms);
    EXPECT_NEAR(manager.currentProgress() * 2.0, pausedAt * 2.0 + 0.4, 0.15);

    // The output holds too: the segment finishes 2 s of playing time after it started, not of wall time.
    ASSERT_TRUE(runEventsUntil([&] { return player.node->log()[0].finishedAt.has_value(); }, 5000ms));
    const auto entry = player.node->log()[0];
    EXPECT_NEAR(secondsBetween(*entry.startedAt, *entry.finishedAt), 2.5, 0.15);
}

TEST(PlaybackTiming, TheNullOutputDeliversNoticesWhenTheAudioEnds) {
    QObject context;
    NullPlayerNode node;
    node.connect(AudioFormat{10000.0, 2});
    ASSERT_TRUE(node.start());
    auto tenth = std::make_shared<AudioBuffer>(AudioFormat{10000.0, 2}, 2000);
    tenth->setFrameLength(2000); // 0.2 s

    QElapsedTimer clock;
    std::vector<double> noticeTimes;
    auto notice = [&] {
        postTo(&context, [&] { noticeTimes.push_back(double(clock.nsecsElapsed()) / 1e9); });
    };
    node.scheduleBuffer(tenth, notice);
    node.scheduleBuffer(tenth, notice);
    clock.start();
    node.play();
    runEventsFor(100ms);
    node.pause();
    runEventsFor(300ms);
    EXPECT_TRUE(noticeTimes.empty()) << "a paused output plays nothing";
    node.play();
    ASSERT_TRUE(runEventsUntil([&] { return noticeTimes.size() == 2; }, 2000ms));
    EXPECT_NEAR(noticeTimes[0], 0.5, 0.06);
    EXPECT_NEAR(noticeTimes[1], 0.7, 0.06);

    // Stopping drops what is queued and still hands back its notice.
    node.scheduleBuffer(tenth, notice);
    node.stop();
    ASSERT_TRUE(runEventsUntil([&] { return noticeTimes.size() == 3; }, 500ms));
    EXPECT_LT(noticeTimes[2], 0.85);
    EXPECT_TRUE(node.log().back().dropped);
}
