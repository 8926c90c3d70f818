#pragma once

// Models only (QtCore): the QIODevice an audio sink pulls from.

#include "playback/SampleConversion.h"
#include "playback/ScheduledAudioQueue.h"

#include <QIODevice>

#include <memory>
#include <vector>

namespace orvanta {

// Serves a ScheduledAudioQueue to a pull-mode audio sink: interleaved frames in the device's channel
// count and sample format, silence whenever nothing is scheduled (so the device never underruns).
// Reads happen on the sink's thread; the notices of buffers that were served are called there, after
// the queue's lock is released.
class PlaybackSourceDevice final : public QIODevice {
public:
    PlaybackSourceDevice(std::shared_ptr<ScheduledAudioQueue> queue, uint32_t channels, DeviceSampleFormat format,
                         QObject* parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesPerFrame() const { return qint64(channels_ * bytesPerSample(format_)); }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    static constexpr uint32_t blockFrames = 1024;

    std::shared_ptr<ScheduledAudioQueue> queue_;
    uint32_t channels_;
    DeviceSampleFormat format_;
    std::vector<float> scratch_; // one block of interleaved frames
    std::vector<ScheduledAudioQueue::CompletionNotice> finished_;
};

} // namespace orvanta
