// The phase return: the crossovers' all-pass run backwards in time undoes the forward one, and two
// channels taken side by side give the bits of one channel at a time.
#include "engine/MultibandLimiter.h"
#include "engine/ReverseAllPass.h"
#include "platform/Biquad.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

TEST(ReverseAllPass, UndoesTheForwardAllPassAndPairsGiveTheBitsOfSingleChannels) {
    const float rate = 44100.0f;
    const size_t frames = size_t(rate * 8);
    const MultibandLimiterEngine bands(1, {}, rate);
    const std::vector<LR4Coefficients>& allPasses = bands.allPassCoeffs();
    const Channels noise = {whiteNoise(0.5, frames, 5), whiteNoise(0.5, frames, 6)};

    // The forward all-pass of each channel, as the band sum leaves it.
    Channels turned = noise;
    for (std::vector<float>& channel : turned) {
        std::vector<CrossoverMemory> memory(allPasses.size());
        for (float& x : channel) {
            for (size_t k = 0; k < allPasses.size(); ++k) x = biquadStep(allPasses[k], memory[k], x);
        }
    }

    // Uneven blocks, some long enough to complete two to six segments at once (the pair filters up to
    // four of them together).
    const uint32_t capacity = 200000;
    ReverseAllPass single(2, rate, allPasses, capacity), paired(2, rate, allPasses, capacity);
    Channels one = turned, two = turned;
    for (size_t start = 0, step = 0; start < frames; ++step) {
        const uint32_t count = uint32_t(std::min<size_t>(frames - start, step % 2 ? capacity / step : 777 * (step + 1)));
        for (int c = 0; c < 2; ++c) single.process(c, one[size_t(c)].data() + start, count);
        paired.processPair(0, two[0].data() + start, two[1].data() + start, count);
        start += count;
    }
    EXPECT_EQ(one, two);

    const size_t delay = size_t(single.latencySamples());
    ASSERT_LT(delay, frames / 2);
    for (int c = 0; c < 2; ++c) {
        for (size_t i = 0; i < delay; ++i) ASSERT_EQ(one[size_t(c)][i], 0.0f) << i;
        double worst = 0.0;
        for (size_t i = delay; i < frames; ++i) {
            worst = std::max(worst, double(std::fabs(one[size_t(c)][i] - noise[size_t(c)][i - delay])));
        }
        EXPECT_LT(worst, 1e-4) << "channel " << c;
    }
}
