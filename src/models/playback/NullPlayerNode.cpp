#include "models/playback/NullPlayerNode.h"

namespace orvanta {

namespace {
NullPlayerNode::Clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<NullPlayerNode::Clock::duration>(std::chrono::duration<double>(seconds));
}
} // namespace

NullPlayerNode::NullPlayerNode() : clock_([this] { run(); }) {}

NullPlayerNode::~NullPlayerNode() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    clock_.join();
}

void NullPlayerNode::connect(const AudioFormat& format) {
    std::lock_guard guard(lock_);
    format_ = format;
}

void NullPlayerNode::disconnect() {
    std::lock_guard guard(lock_);
    format_.channelCount = 0;
}

bool NullPlayerNode::start() {
    std::lock_guard guard(lock_);
    running_ = true;
    return true;
}

void NullPlayerNode::shutdown() {
    stop();
    std::lock_guard guard(lock_);
    running_ = false;
}

bool NullPlayerNode::isRunning() const {
    std::lock_guard guard(lock_);
    return running_;
}

AudioFormat NullPlayerNode::format() const {
    std::lock_guard guard(lock_);
    return format_;
}

void NullPlayerNode::setVolume(float volume) {
    std::lock_guard guard(lock_);
    volume_ = volume;
}

float NullPlayerNode::volume() const {
    std::lock_guard guard(lock_);
    return volume_;
}

void NullPlayerNode::schedule(LogEntry entry, std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) {
    {
        std::lock_guard guard(lock_);
        Item item;
        item.frames = entry.frames;
        item.sampleRate = format_.sampleRate > 0 ? format_.sampleRate : 44100.0;
        item.notice = std::move(notice);
        entry.sampleRate = item.sampleRate;
        entry.scheduledAt = Clock::now();
        if (recordsBuffers_) {
            entry.buffer = std::move(buffer);
        }
        item.logIndex = logBase_ + log_.size();
        log_.push_back(std::move(entry));
        queue_.push_back(std::move(item));
    }
    wake_.notify_all();
}

void NullPlayerNode::scheduleSegment(const std::filesystem::path&, uint32_t startFrame, uint32_t frameCount) {
    LogEntry entry;
    entry.kind = ItemKind::segment;
    entry.frames = frameCount;
    entry.segmentStartFrame = startFrame;
    schedule(std::move(entry), nullptr, nullptr);
}

void NullPlayerNode::scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) {
    LogEntry entry;
    entry.kind = ItemKind::buffer;
    entry.frames = buffer ? buffer->frameLength() : 0;
    schedule(std::move(entry), std::move(buffer), std::move(notice));
}

void NullPlayerNode::play() {
    {
        std::lock_guard guard(lock_);
        playing_ = true;
    }
    wake_.notify_all();
}

void NullPlayerNode::pause() {
    {
        std::lock_guard guard(lock_);
        if (playing_ && frontStart_) {
            frontPlayedSeconds_ = std::chrono::duration<double>(Clock::now() - *frontStart_).count();
            frontStart_.reset();
        }
        playing_ = false;
    }
    wake_.notify_all();
}

void NullPlayerNode::stop() {
    std::vector<CompletionNotice> dropped;
    {
        std::lock_guard guard(lock_);
        for (auto& item : queue_) {
            if (item.logIndex >= logBase_) {
                log_[item.logIndex - logBase_].dropped = true;
            }
            if (item.notice) {
                dropped.push_back(std::move(item.notice));
            }
        }
        queue_.clear();
        frontStart_.reset();
        frontPlayedSeconds_ = 0;
        playing_ = false;
    }
    wake_.notify_all();
    for (auto& notice : dropped) {
        notice();
    }
}

bool NullPlayerNode::isPlaying() const {
    std::lock_guard guard(lock_);
    return playing_;
}

void NullPlayerNode::setRecordsBuffers(bool records) {
    std::lock_guard guard(lock_);
    recordsBuffers_ = records;
}

std::vector<NullPlayerNode::LogEntry> NullPlayerNode::log() const {
    std::lock_guard guard(lock_);
    return log_;
}

void NullPlayerNode::clearLog() {
    std::lock_guard guard(lock_);
    logBase_ += log_.size();
    log_.clear();
}

void NullPlayerNode::run() {
    std::unique_lock guard(lock_);
    while (!quit_) {
        if (!playing_ || queue_.empty()) {
            wake_.wait(guard);
            continue;
        }
        Item& front = queue_.front();
        const auto now = Clock::now();
        if (!frontStart_) {
            frontStart_ = now - toDuration(frontPlayedSeconds_);
            frontPlayedSeconds_ = 0;
            if (front.logIndex >= logBase_ && !log_[front.logIndex - logBase_].startedAt) {
                log_[front.logIndex - logBase_].startedAt = now;
            }
        }
        const auto end = *frontStart_ + toDuration(double(front.frames) / front.sampleRate);
        if (now < end) {
            wake_.wait_until(guard, end);
            continue; // re-examine: woken early by a pause, stop or new item, or on time
        }
        // The next item starts where this one ended, not when the clock thread woke up, so the pace
        // stays exact however late the wake-up was.
        if (front.logIndex >= logBase_) {
            log_[front.logIndex - logBase_].finishedAt = end;
        }
        CompletionNotice notice = std::move(front.notice);
        queue_.pop_front();
        frontStart_.reset();
        if (!queue_.empty()) {
            frontStart_ = end;
            const size_t next = queue_.front().logIndex;
            if (next >= logBase_ && !log_[next - logBase_].startedAt) {
                log_[next - logBase_].startedAt = end;
            }
        }
        if (notice) {
            guard.unlock();
            notice();
            guard.lock();
        }
    }
}

} // namespace orvanta
