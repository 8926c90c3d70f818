#include "PlaybackTestSupport.h"

#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <cstdlib>

namespace orvanta::test {

void runEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(std::chrono::milliseconds(2));
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

std::filesystem::path writeRamp(const std::string& name, double seconds, double sampleRate, uint32_t channels) {
    const auto frames = size_t(std::llround(seconds * sampleRate));
    Channels data(channels, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        const float value = float(0.5 * double(i) / double(frames));
        for (uint32_t c = 0; c < channels; ++c) {
            data[c][i] = c % 2 == 0 ? value : -value;
        }
    }
    const auto path = scratchPath(name);
    writeWav(path, data, sampleRate, SampleFormat::float32);
    return path;
}

int64_t rampFrame(float sample, int64_t length, float gain) {
    return int64_t(std::llround(double(sample) / double(gain) / 0.5 * double(length)));
}

NullPlayer makeNullPlayer() {
    auto node = std::make_unique<NullPlayerNode>();
    NullPlayer player;
    player.node = node.get();
    player.manager = std::make_unique<AudioPlayerManager>(std::move(node));
    return player;
}

EQSettings flatEnabledEQ() {
    EQSettings settings = defaultEQSettings();
    settings.isEnabled = true;
    return settings;
}

EQSettings boostedEQ() {
    EQSettings settings = flatEnabledEQ();
    settings.bands[5].gain = 6.0f;
    return settings;
}

double secondsBetween(NullPlayerNode::Clock::time_point from, NullPlayerNode::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace orvanta::test
