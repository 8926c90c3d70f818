#pragma once

#include "playback/PlayerNode.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orvanta {

// A player without a device: scheduled audio is consumed at real-time pace by a clock thread, so that
// notices arrive when the audio would have finished playing and playback logic behaves as with a
// device. Nothing is read or heard. Keeps a log of everything scheduled, for diagnostics and tests.
class NullPlayerNode final : public PlayerNode {
public:
    using Clock = std::chrono::steady_clock;

    enum class ItemKind { segment, buffer };

    // One scheduled item. Times are on Clock; startedAt and finishedAt stay empty until they happen.
    struct LogEntry {
        ItemKind kind = ItemKind::buffer;
        uint32_t frames = 0;
        double sampleRate = 0;           // Hz, the connected format's
        uint32_t segmentStartFrame = 0;  // segments only
        Clock::time_point scheduledAt;
        std::optional<Clock::time_point> startedAt;  // first frame began to play
        std::optional<Clock::time_point> finishedAt; // last frame finished playing
        bool dropped = false;                        // removed by stop() before it finished
        std::shared_ptr<const AudioBuffer> buffer;   // only while recordsBuffers() is on
    };

    NullPlayerNode();
    ~NullPlayerNode() override;

    void connect(const AudioFormat& format) override;
    void disconnect() override;
    bool start() override;
    void shutdown() override;
    bool isRunning() const override;
    AudioFormat format() const override;
    void setVolume(float volume) override;

    // Segments are logged and timed only; the file is not opened.
    void scheduleSegment(const std::filesystem::path& file, uint32_t startFrame, uint32_t frameCount) override;
    void scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override;

    float volume() const;
    // Whether log entries keep the scheduled buffers (off by default: a long song would hold all of it).
    void setRecordsBuffers(bool records);
    std::vector<LogEntry> log() const;
    void clearLog();

private:
    struct Item {
        size_t logIndex = 0;
        uint32_t frames = 0;
        double sampleRate = 0;
        CompletionNotice notice;
    };

    void schedule(LogEntry entry, std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice);
    void run();

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    AudioFormat format_{44100.0, 0};
    float volume_ = 1.0f;
    bool running_ = false;
    bool playing_ = false;
    bool quit_ = false;
    bool recordsBuffers_ = false;
    // When the front item's first frame played, shifted by pauses; empty while it is not playing.
    std::optional<Clock::time_point> frontStart_;
    double frontPlayedSeconds_ = 0; // of the front item, kept across a pause
    std::vector<LogEntry> log_;
    size_t logBase_ = 0; // log indices of items scheduled before clearLog() are below this
    std::thread clock_;
};

} // namespace orvanta
