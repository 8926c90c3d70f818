#include "playback/ScheduledAudioQueue.h"

#include "platform/Error.h"

#include <algorithm>
#include <cstdio>

namespace orvanta {

namespace {

void interleave(const AudioBuffer& source, uint32_t offset, uint32_t frames, float* out, uint32_t channels) {
    const uint32_t sourceChannels = source.channelCount();
    for (uint32_t c = 0; c < channels; ++c) {
        const float* from = nullptr;
        if (sourceChannels == 1) {
            from = source.channel(0) + offset;
        } else if (c < sourceChannels) {
            from = source.channel(c) + offset;
        }
        float* to = out + c;
        for (uint32_t i = 0; i < frames; ++i, to += channels) {
            *to = from != nullptr ? from[i] : 0.0f;
        }
    }
}

} // namespace

void ScheduledAudioQueue::scheduleSegment(std::unique_ptr<AudioFileReader> reader, uint32_t startFrame,
                                          uint32_t frameCount) {
    Item item;
    reader->setFramePosition(startFrame);
    const int64_t available = std::max<int64_t>(reader->lengthFrames() - int64_t(startFrame), 0);
    item.framesLeft = uint32_t(std::min<int64_t>(frameCount, available));
    item.staging = reader->makeBuffer(segmentReadFrames);
    item.reader = std::move(reader);
    std::lock_guard guard(lock_);
    items_.push_back(std::move(item));
}

void ScheduledAudioQueue::scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) {
    Item item;
    item.framesLeft = buffer ? buffer->frameLength() : 0;
    item.buffer = std::move(buffer);
    item.notice = std::move(notice);
    std::lock_guard guard(lock_);
    items_.push_back(std::move(item));
}

void ScheduledAudioQueue::setConsuming(bool consuming) {
    std::lock_guard guard(lock_);
    consuming_ = consuming;
}

bool ScheduledAudioQueue::isConsuming() const {
    std::lock_guard guard(lock_);
    return consuming_;
}

std::vector<ScheduledAudioQueue::CompletionNotice> ScheduledAudioQueue::clear() {
    std::deque<Item> dropped;
    {
        std::lock_guard guard(lock_);
        dropped.swap(items_);
    }
    std::vector<CompletionNotice> notices;
    for (auto& item : dropped) {
        if (item.notice) {
            notices.push_back(std::move(item.notice));
        }
    }
    return notices;
}

bool ScheduledAudioQueue::isEmpty() const {
    std::lock_guard guard(lock_);
    return items_.empty();
}

uint32_t ScheduledAudioQueue::serveFront(Item& item, float* interleaved, uint32_t frames, uint32_t channels) {
    if (item.buffer) {
        const uint32_t n = std::min(frames, item.framesLeft);
        interleave(*item.buffer, item.bufferOffset, n, interleaved, channels);
        item.bufferOffset += n;
        item.framesLeft -= n;
        return n;
    }
    if (item.stagingOffset >= item.staging.frameLength()) {
        if (item.framesLeft == 0) {
            return 0;
        }
        try {
            item.reader->read(item.staging, std::min(item.framesLeft, segmentReadFrames));
        } catch (const Error& error) {
            std::printf("[AudioPlayer] Audio scheduling failed: %s\n", error.description().c_str());
            std::fflush(stdout);
            item.staging.setFrameLength(0);
        }
        item.stagingOffset = 0;
        if (item.staging.frameLength() == 0) {
            item.framesLeft = 0; // the file ended early or failed: the segment is over
            return 0;
        }
        item.framesLeft -= item.staging.frameLength();
    }
    const uint32_t n = std::min(frames, item.staging.frameLength() - item.stagingOffset);
    interleave(item.staging, item.stagingOffset, n, interleaved, channels);
    item.stagingOffset += n;
    return n;
}

uint32_t ScheduledAudioQueue::pull(float* interleaved, uint32_t frames, uint32_t channels,
                                   std::vector<CompletionNotice>& finished) {
    uint32_t served = 0;
    std::deque<Item> played;
    {
        std::lock_guard guard(lock_);
        while (consuming_ && served < frames && !items_.empty()) {
            Item& front = items_.front();
            const uint32_t n = serveFront(front, interleaved + size_t(served) * channels, frames - served, channels);
            served += n;
            const bool exhausted = front.buffer ? front.framesLeft == 0
                                                : front.framesLeft == 0 && front.stagingOffset >= front.staging.frameLength();
            if (exhausted) {
                if (front.notice) {
                    finished.push_back(std::move(front.notice));
                }
                played.push_back(std::move(front));
                items_.pop_front();
            } else if (n == 0) {
                break;
            }
        }
    }
    std::fill(interleaved + size_t(served) * channels, interleaved + size_t(frames) * channels, 0.0f);
    return served; // `played` is released here, outside the lock
}

} // namespace orvanta
