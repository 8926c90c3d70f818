#pragma once

#include "eq/EQSettings.h"
#include "models/playback/AudioPlayerManager.h"
#include "models/playback/NullPlayerNode.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace orvanta::test {

// Runs the main thread's event loop for `duration`.
void runEventsFor(std::chrono::milliseconds duration);
// Runs the event loop until `done` holds or `timeout` passes; answers `done()`.
bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// A stereo float WAV whose left channel is 0.5 × frame / length and right channel its negative, so
// that every sample tells the frame it came from.
std::filesystem::path writeRamp(const std::string& name, double seconds, double sampleRate = 44100.0,
                                uint32_t channels = 2);
// The frame of the ramp (scaled by `gain`) that `sample` came from.
int64_t rampFrame(float sample, int64_t length, float gain = 1.0f);

// A manager on a null output path, with direct access to the node.
struct NullPlayer {
    NullPlayerNode* node = nullptr;
    std::unique_ptr<AudioPlayerManager> manager;
};
NullPlayer makeNullPlayer();

// Default bands, enabled: the real-time chain runs, but nothing is filtered (no band is active).
EQSettings flatEnabledEQ();
// Enabled, +6 dB at 1 kHz.
EQSettings boostedEQ();

// Seconds between two times of the null node's clock.
double secondsBetween(NullPlayerNode::Clock::time_point from, NullPlayerNode::Clock::time_point to);

} // namespace orvanta::test
