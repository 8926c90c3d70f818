#include "models/playback/PlaybackTestSupport.h"
#include "platform/AudioFileReader.h"
#include "playback/SampleConversion.h"
#include "playback/ScheduledAudioQueue.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orvanta;
using namespace orvanta::test;

TEST(SampleConversion, IntegerFormatsClipRoundAndSilenceNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {0.0f, 1.0f, -1.0f, 2.0f, -3.0f, 0.5f, nan};
    int16_t s16[7];
    encodeSamples(in, 7, DeviceSampleFormat::int16, s16);
    EXPECT_EQ(s16[0], 0);
    EXPECT_EQ(s16[1], 32767);
    EXPECT_EQ(s16[2], -32767);
    EXPECT_EQ(s16[3], 32767);
    EXPECT_EQ(s16[4], -32767);
    EXPECT_EQ(s16[5], 16384);
    EXPECT_EQ(s16[6], 0);

    int32_t s32[7];
    encodeSamples(in, 7, DeviceSampleFormat::int32, s32);
    EXPECT_EQ(s32[1], 2147483647);
    EXPECT_EQ(s32[4], -2147483647);
    EXPECT_EQ(s32[6], 0);

    uint8_t u8[7];
    encodeSamples(in, 7, DeviceSampleFormat::uint8, u8);
    EXPECT_EQ(u8[0], 128);
    EXPECT_EQ(u8[1], 255);
    EXPECT_EQ(u8[2], 1);
    EXPECT_EQ(u8[6], 128);

    float f[7];
    encodeSamples(in, 7, DeviceSampleFormat::float32, f);
    EXPECT_EQ(f[3], 2.0f) << "float devices get the samples as they are";
    EXPECT_EQ(f[6], 0.0f);
}

namespace {
std::shared_ptr<const AudioBuffer> rampBuffer(uint32_t channels, uint32_t frames, float offset) {
    auto buffer = std::make_shared<AudioBuffer>(AudioFormat{44100.0, channels}, frames);
    buffer->setFrameLength(frames);
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < frames; ++i) buffer->channel(c)[i] = offset + float(i) + 1000.0f * float(c);
    return buffer;
}
} // namespace

TEST(ScheduledAudioQueue, ServesBuffersInOrderAndHandsBackTheirNotices) {
    ScheduledAudioQueue queue;
    int done = 0;
    queue.scheduleBuffer(rampBuffer(2, 5, 0.0f), [&] { ++done; });
    queue.scheduleBuffer(rampBuffer(2, 3, 100.0f), [&] { done += 10; });

    std::vector<float> out(8 * 2);
    std::vector<ScheduledAudioQueue::CompletionNotice> finished;
    EXPECT_EQ(queue.pull(out.data(), 4, 2, finished), 0u) << "nothing is consumed before play";
    EXPECT_EQ(out[0], 0.0f);

    queue.setConsuming(true);
    EXPECT_EQ(queue.pull(out.data(), 4, 2, finished), 4u);
    EXPECT_TRUE(finished.empty()) << "the first buffer still has a frame to play";
    EXPECT_EQ(out[6], 3.0f);
    EXPECT_EQ(out[7], 1003.0f);

    std::fill(out.begin(), out.end(), -1.0f);
    EXPECT_EQ(queue.pull(out.data(), 6, 2, finished), 4u);
    ASSERT_EQ(finished.size(), 2u);
    for (auto& notice : finished) notice();
    EXPECT_EQ(done, 11);
    EXPECT_EQ(out[0], 4.0f);
    EXPECT_EQ(out[2], 100.0f);
    EXPECT_EQ(out[7], 1102.0f);
    EXPECT_EQ(out[8], 0.0f) << "silence after the queue";
    EXPECT_EQ(out[11], 0.0f);
    EXPECT_TRUE(queue.isEmpty());

    // Clearing drops everything and hands back the notices of the dropped buffers only.
    queue.scheduleBuffer(rampBuffer(2, 10, 0.0f), [] {});
    queue.scheduleBuffer(rampBuffer(2, 10, 0.0f), nullptr);
    queue.scheduleBuffer(rampBuffer(2, 10, 0.0f), [] {});
    EXPECT_EQ(queue.clear().size(), 2u);
    EXPECT_TRUE(queue.isEmpty());
}

TEST(ScheduledAudioQueue, MapsChannelsToTheDevice) {
    ScheduledAudioQueue queue;
    queue.setConsuming(true);
    std::vector<ScheduledAudioQueue::CompletionNotice> finished;
    queue.scheduleBuffer(rampBuffer(1, 2, 5.0f), nullptr);
    std::vector<float> stereo(4);
    queue.pull(stereo.data(), 2, 2, finished);
    EXPECT_EQ(stereo, (std::vector<float>{5, 5, 6, 6})) << "mono feeds both channels";

    queue.scheduleBuffer(rampBuffer(3, 2, 0.0f), nullptr);
    std::vector<float> mono(2);
    queue.pull(mono.data(), 2, 1, finished);
    EXPECT_EQ(mono, (std::vector<float>{0, 1}));

    queue.scheduleBuffer(rampBuffer(2, 1, 0.0f), nullptr);
    std::vector<float> four(4, -1.0f);
    queue.pull(four.data(), 1, 4, finished);
    EXPECT_EQ(four, (std::vector<float>{0, 1000, 0, 0}));
}

TEST(ScheduledAudioQueue, SegmentsReadTheirFramesFromTheFile) {
    const auto path = writeRamp("segment.wav", 1.0);
    const int64_t length = 44100;
    ScheduledAudioQueue queue;
    queue.setConsuming(true);
    queue.scheduleSegment(std::make_unique<AudioFileReader>(path), 30000, 10000);
    bool after = false;
    queue.scheduleBuffer(rampBuffer(2, 1, 7.0f), [&] { after = true; });

    std::vector<float> out(3000 * 2);
    std::vector<ScheduledAudioQueue::CompletionNotice> finished;
    int64_t frame = 30000;
    uint32_t total = 0;
    for (int pass = 0; pass < 4; ++pass) {
        const uint32_t served = queue.pull(out.data(), 3000, 2, finished);
        total += served;
        for (uint32_t i = 0; i < served && frame < 40000; ++i, ++frame) {
            ASSERT_EQ(rampFrame(out[2 * i], length), frame);
            ASSERT_EQ(out[2 * i + 1], -out[2 * i]);
        }
    }
    EXPECT_EQ(frame, 40000);
    EXPECT_EQ(total, 10001u);
    ASSERT_EQ(finished.size(), 1u);
    finished[0]();
    EXPECT_TRUE(after);

    // A segment past the end of the file plays what there is.
    queue.scheduleSegment(std::make_unique<AudioFileReader>(path), 44000, 5000);
    std::vector<float> tail(6000 * 2);
    EXPECT_EQ(queue.pull(tail.data(), 6000, 2, finished), 100u);
    EXPECT_TRUE(queue.isEmpty());
}
