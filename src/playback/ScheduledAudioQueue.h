#pragma once

#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orvanta {

// The audio a device pulls from: file segments and buffers in the order they were scheduled, served
// as interleaved float frames. Scheduling happens on the main thread, pulling on the audio thread;
// everything is guarded by one lock. Pulling never allocates except when it releases played items.
class ScheduledAudioQueue {
public:
    using CompletionNotice = std::function<void()>;

    // Frames a segment reads from its file at a time.
    static constexpr uint32_t segmentReadFrames = 4096;

    // Queues frames [startFrame, startFrame + frameCount) of `reader`'s file. Allocates the read buffer
    // here, so that pulling does not; throws std::bad_alloc when memory is short.
    void scheduleSegment(std::unique_ptr<AudioFileReader> reader, uint32_t startFrame, uint32_t frameCount);
    // Queues the buffer's valid frames; `notice` is handed back by pull() once the last of them was served.
    void scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice);

    // While not consuming, pull() serves silence and keeps the queue where it is.
    void setConsuming(bool consuming);
    bool isConsuming() const;

    // Drops every item and returns the notices of the dropped buffers, for the caller to deliver.
    std::vector<CompletionNotice> clear();
    bool isEmpty() const;

    // Writes `frames` interleaved frames of `channels` channels into `interleaved`: scheduled audio first,
    // silence after it. A mono source feeds every output channel; output channels beyond the source's
    // are silent and source channels beyond the output's are left out. Appends the notices of buffers
    // that finished to `finished`. Returns the number of scheduled frames served. Audio thread.
    uint32_t pull(float* interleaved, uint32_t frames, uint32_t channels, std::vector<CompletionNotice>& finished);

private:
    struct Item {
        std::shared_ptr<const AudioBuffer> buffer; // a scheduled buffer, or
        std::unique_ptr<AudioFileReader> reader;   // the file of a segment, positioned at its start
        AudioBuffer staging;                       // segment frames read but not yet served
        uint32_t stagingOffset = 0;                // frames of `staging` already served
        uint32_t framesLeft = 0;                   // frames still to serve (segments: not yet read)
        uint32_t bufferOffset = 0;                 // frames of `buffer` already served
        CompletionNotice notice;
    };

    // Serves up to `frames` frames of the front item; 0 when it is exhausted.
    uint32_t serveFront(Item& item, float* interleaved, uint32_t frames, uint32_t channels);

    mutable std::mutex lock_;
    std::deque<Item> items_;
    bool consuming_ = false;
};

} // namespace orvanta
