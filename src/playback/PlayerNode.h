#pragma once

#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace orvanta {

// The output path of the playback manager: an output that is started once per loaded file with that
// file's processing format, and a player on it that plays scheduled audio in order — file segments
// read directly from disk, and buffers with a completion notice each.
//
// All operations are called on the main thread. Completion notices are called on the audio side
// (any thread) once a buffer has been played, or when it is dropped by stop(); a notice must only
// queue work (postTo) and never touch the caller's state directly.
class PlayerNode {
public:
    using CompletionNotice = std::function<void()>;

    virtual ~PlayerNode() = default;

    // Output side. connect() sets the format of everything scheduled from now on (the file's processing
    // format); disconnect() forgets it. start() opens the output and answers whether it runs;
    // shutdown() stops the player and closes the output.
    virtual void connect(const AudioFormat& format) = 0;
    virtual void disconnect() = 0;
    virtual bool start() = 0;
    virtual void shutdown() = 0;
    virtual bool isRunning() const = 0;
    // The connected format (channelCount 0 when disconnected).
    virtual AudioFormat format() const = 0;
    // Linear output volume, 0…1.
    virtual void setVolume(float volume) = 0;

    // Player side. Scheduled audio plays in order once play() is called.
    // Plays frames [startFrame, startFrame + frameCount) of the file, without a notice.
    // Throws Error (domain "AudioFile") when the file cannot be opened for reading.
    virtual void scheduleSegment(const std::filesystem::path& file, uint32_t startFrame, uint32_t frameCount) = 0;
    // Plays the buffer's valid frames (in the connected format), then calls `notice`.
    virtual void scheduleBuffer(std::shared_ptr<const AudioBuffer> buffer, CompletionNotice notice) = 0;
    // Starts playing the queue, or resumes it after pause().
    virtual void play() = 0;
    // Holds the queue at the current frame.
    virtual void pause() = 0;
    // Drops everything scheduled; the notices of dropped buffers are delivered, as a stopped player does.
    virtual void stop() = 0;
    // Between play() and pause() or stop().
    virtual bool isPlaying() const = 0;
};

} // namespace orvanta
