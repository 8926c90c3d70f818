#include "support/TonalBalance.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta::test;

TEST(TonalDistance, GainAloneIsNoDistanceAndAToneLandsInItsBand) {
    const auto noise = whiteNoise(0.3, 44100 * 3, 5);
    std::vector<float> louder = noise;
    for (float& x : louder) x *= 2.0f; // +6 dB
    writeWav(scratchPath("noise.wav"), {noise, noise}, 44100.0);
    writeWav(scratchPath("louder.wav"), {louder, louder}, 44100.0);
    EXPECT_LT(tonalDistanceDb(scratchPath("noise.wav"), scratchPath("louder.wav")), 1e-6);
    // Another stretch of white noise has the same balance, within the frames' scatter.
    EXPECT_LT(tonalDistanceDb(thirdOctaveLevelsDb({noise}, 44100.0),
                              thirdOctaveLevelsDb({whiteNoise(0.3, 44100 * 3, 9)}, 44100.0)),
              1.0);

    const auto levels = thirdOctaveLevelsDb({sine(1000.0, 0.5, 44100.0, 44100 * 2)}, 44100.0);
    const auto centres = thirdOctaveCentresHz();
    ASSERT_EQ(levels.size(), centres.size());
    const auto loudest = std::max_element(levels.begin(), levels.end()) - levels.begin();
    EXPECT_DOUBLE_EQ(centres[size_t(loudest)], 1000.0);
}

TEST(TonalDistance, DistanceAlignsLevelsAndSkipsUnreadableBands) {
    const double nan = std::nan("");
    // Differences 0, 0, 6, 6 around their mean of 3: RMS 3 dB.
    EXPECT_DOUBLE_EQ(tonalDistanceDb(std::vector<double>{1, 2, 9, 10, nan}, std::vector<double>{1, 2, 3, 4, 50}), 3.0);
    // At 22.05 kHz the 16 kHz band lies beyond Nyquist.
    const auto low = thirdOctaveLevelsDb({whiteNoise(0.3, 22050 * 2)}, 22050.0);
    EXPECT_TRUE(std::isnan(low.back()));
    EXPECT_TRUE(std::isfinite(low.front()));
    EXPECT_THROW(thirdOctaveLevelsDb({whiteNoise(0.3, 1000)}, 44100.0), std::invalid_argument);
}
