// The device the audio sink reads, and the choice of output node.
#include "models/playback/NullPlayerNode.h"
#include "models/playback/PlaybackSourceDevice.h"
#include "models/playback/PlayerNodeFactory.h"
#include "platform/AudioBuffer.h"
#include "playback/SampleConversion.h"
#include "playback/ScheduledAudioQueue.h"

#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>

using namespace orvanta;

TEST(PlaybackSourceDevice, EncodesScheduledAudioForTheDevice) {
    auto queue = std::make_shared<ScheduledAudioQueue>();
    PlaybackSourceDevice device(queue, 2, DeviceSampleFormat::int16);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    EXPECT_EQ(device.bytesPerFrame(), 4);

    auto buffer = std::make_shared<AudioBuffer>(AudioFormat{44100.0, 2}, 3000);
    buffer->setFrameLength(3000);
    for (uint32_t i = 0; i < 3000; ++i) {
        buffer->channel(0)[i] = 0.5f;
        buffer->channel(1)[i] = -1.5f;
    }
    bool finished = false;
    queue->scheduleBuffer(buffer, [&] { finished = true; });
    queue->setConsuming(true);

    const QByteArray first = device.read(2000 * 4 + 3); // a partial frame is not served
    ASSERT_EQ(first.size(), 2000 * 4);
    const auto* samples = reinterpret_cast<const int16_t*>(first.constData());
    EXPECT_EQ(samples[0], 16384);
    EXPECT_EQ(samples[1], -32767);
    EXPECT_FALSE(finished);

    const QByteArray second = device.read(2000 * 4);
    ASSERT_EQ(second.size(), 2000 * 4) << "after the buffer the device gets silence, never a short read";
    const auto* rest = reinterpret_cast<const int16_t*>(second.constData());
    EXPECT_EQ(rest[2 * 999], 16384);
    EXPECT_EQ(rest[2 * 1000], 0);
    EXPECT_TRUE(finished);
}

TEST(PlayerNodeFactory, ChoosesTheNullOutputWhenAskedTo) {
    ASSERT_EQ(qEnvironmentVariable("ORVANTA_AUDIO_OUTPUT"), QStringLiteral("null"));
    auto node = makeDefaultPlayerNode();
    EXPECT_NE(dynamic_cast<NullPlayerNode*>(node.get()), nullptr);
    EXPECT_TRUE(node->start());
    EXPECT_TRUE(node->isRunning());
}
