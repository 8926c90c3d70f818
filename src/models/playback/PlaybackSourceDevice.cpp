#include "models/playback/PlaybackSourceDevice.h"

#include <algorithm>

namespace orvanta {

PlaybackSourceDevice::PlaybackSourceDevice(std::shared_ptr<ScheduledAudioQueue> queue, uint32_t channels,
                                           DeviceSampleFormat format, QObject* parent)
    : QIODevice(parent), queue_(std::move(queue)), channels_(std::max<uint32_t>(channels, 1)), format_(format),
      scratch_(size_t(blockFrames) * channels_) {
    finished_.reserve(16);
}

qint64 PlaybackSourceDevice::bytesAvailable() const {
    // A live source: there is always something to play, if only silence.
    return QIODevice::bytesAvailable() + qint64(blockFrames) * 64 * bytesPerFrame();
}

qint64 PlaybackSourceDevice::readData(char* data, qint64 maxSize) {
    const qint64 frameBytes = bytesPerFrame();
    const qint64 frames = maxSize / frameBytes;
    qint64 done = 0;
    while (done < frames) {
        const auto n = uint32_t(std::min<qint64>(frames - done, blockFrames));
        queue_->pull(scratch_.data(), n, channels_, finished_);
        encodeSamples(scratch_.data(), size_t(n) * channels_, format_,
                      data + done * frameBytes);
        done += n;
    }
    for (auto& notice : finished_) {
        notice();
    }
    finished_.clear();
    return done * frameBytes;
}

qint64 PlaybackSourceDevice::writeData(const char*, qint64) { return -1; }

} // namespace orvanta
