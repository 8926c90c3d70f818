#include "batch/LoudPassageProbe.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvanta;
using namespace orvanta::test;

// The passages that go to the codec on their own hold the loud bursts of a long quiet song, each with
// context around it, take only a small share of it, and lie apart in order; a short song is encoded
// whole instead.
TEST(LoudPassageProbe, FindsTheLoudBurstsOfALongSongAndLeavesAShortOneWhole) {
    constexpr double rate = 8000.0;
    const std::vector<double> burstSeconds = {20.0, 75.0, 130.0, 185.0};
    std::vector<float> song = whiteNoise(0.05, size_t(rate * 200.0), 5);
    for (const double at : burstSeconds) {
        const std::vector<float> burst = whiteNoise(0.9, size_t(rate * 0.2), 9);
        std::copy(burst.begin(), burst.end(), song.begin() + ptrdiff_t(at * rate));
    }
    const auto path = scratchPath("bursts.wav");
    writeWav(path, {song}, rate);

    const std::vector<Passage> passages = loudestPassages(path);
    ASSERT_FALSE(passages.empty());
    int64_t probed = 0;
    for (size_t i = 0; i < passages.size(); ++i) {
        probed += passages[i].frameCount;
        if (i > 0) {
            EXPECT_GE(passages[i].firstFrame, passages[i - 1].firstFrame + passages[i - 1].frameCount);
        }
    }
    EXPECT_LT(double(probed), 0.1 * double(song.size()));
    for (const double at : burstSeconds) {
        const int64_t first = int64_t(at * rate), last = int64_t((at + 0.2) * rate);
        const bool held = std::any_of(passages.begin(), passages.end(), [&](const Passage& p) {
            return p.firstFrame + int64_t(0.5 * rate) <= first && last + int64_t(0.5 * rate) <= p.firstFrame + p.frameCount;
        });
        EXPECT_TRUE(held) << "burst at " << at << " s";
    }

    const auto shortSong = scratchPath("short.wav");
    writeWav(shortSong, {std::vector<float>(song.begin(), song.begin() + ptrdiff_t(rate * 20.0))}, rate);
    EXPECT_TRUE(loudestPassages(shortSong).empty());
}
