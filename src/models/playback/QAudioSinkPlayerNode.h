#pragma once

// Models only (QtCore, QtMultimedia).

#include "playback/PlayerNode.h"
#include "playback/ScheduledAudioQueue.h"

#include <QAudioDevice>
#include <QThread>

#include <memory>

class QAudioSink;

namespace orvanta {

class PlaybackSourceDevice;

// Plays through Qt Multimedia's QAudioSink on an output device, in pull mode: the sink lives on its own
// audio thread and pulls interleaved frames in the device's format from the scheduled queue. The device
// format is the connected file's rate and channel count in the first sample format the device accepts;
// start() fails when it accepts none. Notices are called on the audio thread once a buffer has been
// handed to the device.
class QAudioSinkPlayerNode final : public PlayerNode {
public:
    explicit QAudioSinkPlayerNode(QAudioDevice device);
    ~QAudioSinkPlayerNode() override;

    void connect(const AudioFormat& format) override;
    void disconnect() override;
    bool start() override;
    void shutdown() override;
    bool isRunning() const override { return running_; }
    AudioFormat format() const override { return format_; }
    void setVolume(float volume) override;

    // Opens the file for the audio thread's own reads; throws Error when it cannot be opened.
    void scheduleSegment(const std::filesystem::path& file, uint32_t startFrame, uint32_t frameCount) override;
    void scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }

private:
    // Audio thread.
    bool openSink(AudioFormat format, float volume);
    void closeSink();
    // Runs `work` on the audio thread; waits for it when `wait`.
    template <typename Work>
    void onAudioThread(Work&& work, bool wait);

    QAudioDevice device_;
    QThread audioThread_;
    QObject* audioContext_ = nullptr; // lives on audioThread_
    std::shared_ptr<ScheduledAudioQueue> queue_ = std::make_shared<ScheduledAudioQueue>();

    // Main thread.
    AudioFormat format_{44100.0, 0};
    float volume_ = 1.0f;
    bool running_ = false;
    bool playing_ = false;

    // Audio thread.
    QAudioSink* sink_ = nullptr;
    PlaybackSourceDevice* source_ = nullptr;
};

} // namespace orvanta
