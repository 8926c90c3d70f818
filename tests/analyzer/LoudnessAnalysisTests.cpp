#include "analyzer/LoudnessAnalysis.h"
#include "platform/Error.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::AudioAnalyzer;
using namespace orvanta::test;

TEST(BlockLoudness, ChannelWeightedMeanSquarePerBlock) {
    const std::vector<float> half(100, 0.5f);
    std::vector<double> reported;
    const auto blocks = blockLoudness({half, half}, 30, 10, [&reported](double f) { reported.push_back(f); });
    ASSERT_EQ(blocks.powers.size(), 8u); // starts 0, 10, …, 70
    for (float z : blocks.powers) EXPECT_FLOAT_EQ(z, 0.5f);
    EXPECT_FLOAT_EQ(blocks.maxLoudness, 10.0f * std::log10(0.5f) - 1.191f);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);
    for (size_t i = 1; i < reported.size(); ++i) EXPECT_GE(reported[i] - reported[i - 1], 0.02 - 1e-12);

    // Channels beyond the first two weigh 1.41.
    const auto surround = blockLoudness({half, half, half}, 30, 10);
    EXPECT_FLOAT_EQ(surround.powers[0], 0.25f + 0.25f + 1.41f * 0.25f);

    EXPECT_TRUE(blockLoudness({}, 30, 10).powers.empty());
    const auto tooShort = blockLoudness({std::vector<float>(20, 0.5f)}, 30, 10);
    EXPECT_TRUE(tooShort.powers.empty());
    EXPECT_EQ(tooShort.maxLoudness, -70.0f);
}

TEST(LoudnessRange, InterpolatedSpreadOfTheGatedValues) {
    // P95 at position 3.8 → −12.4, P10 at 0.4 → −19.2.
    EXPECT_NEAR(loudnessRange({-20, -18, -16, -14, -12}, -15.0), 6.8, 1e-9);
    // Values at or below −70 and more than 20 LU under the integrated figure do not count.
    EXPECT_NEAR(loudnessRange({-90, -70, -40, -20, -18, -16, -14, -12}, -15.0), 6.8, 1e-9);
    EXPECT_EQ(loudnessRange({-14}, -14.0), 0.0);
    EXPECT_EQ(loudnessRange({}, -14.0), 0.0);
}

TEST(MeasureLoudness, FullScaleSineInBothChannelsReadsTheMeterOffset) {
    // K-weighting is unity-normalised at 1 kHz: two full-scale channels read 0 LKFS before
    // the analyzer's extra −0.5 dB.
    const auto tone = sine(1000, 1.0, 48000, 48000 * 10);
    const auto loudness = measureLoudness(toBuffer({tone, tone}, 48000));
    EXPECT_NEAR(loudness.integrated, -0.5, 0.05);
    EXPECT_NEAR(loudness.momentaryMax, loudness.integrated, 0.05);
    EXPECT_NEAR(loudness.shortTermMax, loudness.integrated, 0.05);
    EXPECT_NEAR(loudness.loudnessRange, 0.0, 0.05);

    // 10 dB quieter reads 10 dB lower.
    const auto quiet = sine(1000, std::pow(10.0, -0.5), 48000, 48000 * 10);
    EXPECT_NEAR(measureLoudness(toBuffer({quiet, quiet}, 48000)).integrated, loudness.integrated - 10.0, 0.02);
}

TEST(MeasureLoudness, UsesTheFortyEightKilohertzFilterAtEveryRate) {
    // The same filter at 44.1 kHz: a tone reads like one at the same fraction of the rate at 48 kHz.
    const auto at44 = sine(1000, 0.5, 44100, 44100 * 8);
    const auto at48 = sine(1000 * 48000.0 / 44100.0, 0.5, 48000, 48000 * 8);
    const double l44 = measureLoudness(toBuffer({at44}, 44100)).integrated;
    const double l48 = measureLoudness(toBuffer({at48}, 48000)).integrated;
    EXPECT_NEAR(l44, l48, 0.01);
    // …which differs from the same 1 kHz tone at 48 kHz (the shelf sits elsewhere).
    const double l48at1k = measureLoudness(toBuffer({sine(1000, 0.5, 48000, 48000 * 8)}, 48000)).integrated;
    EXPECT_GT(std::fabs(l44 - l48at1k), 0.005);
}

TEST(MeasureLoudness, GatesQuietPassagesAndFallsBackForSilence) {
    // Loud half and a half 30 dB down: the relative gate drops the quiet half.
    const double rate = 48000;
    auto mixed = sine(1000, 0.5, rate, size_t(rate * 10));
    const auto loudOnly = measureLoudness(toBuffer({mixed}, rate)).integrated;
    for (size_t i = mixed.size() / 2; i < mixed.size(); ++i) mixed[i] *= float(std::pow(10.0, -1.5));
    EXPECT_NEAR(measureLoudness(toBuffer({mixed}, rate)).integrated, loudOnly, 0.1);

    const auto silent = measureLoudness(toBuffer({silence(48000 * 5), silence(48000 * 5)}, rate));
    EXPECT_EQ(silent, (LoudnessMeasurement{-70.0, -70.0, -70.0, 0.0}));

    EXPECT_EQ(measureLoudness(AudioBuffer(AudioFormat{48000, 2}, 0)), (LoudnessMeasurement{-70.0, -70.0, -70.0, 0.0}));
    // Shorter than one 200 ms block: nothing to average.
    const auto blip = measureLoudness(toBuffer({sine(1000, 0.5, rate, 1000)}, rate));
    EXPECT_EQ(blip.integrated, -70.0);
}

TEST(LoudnessExcerpt, MiddleTwoMinutesOfLongFiles) {
    const auto fiveMinutes = loudnessExcerpt(44100, 44100 * 300);
    EXPECT_EQ(fiveMinutes.frames, 44100u * 120);
    EXPECT_EQ(fiveMinutes.start, (44100u * 300 - 44100u * 120) / 2);
    const auto short_ = loudnessExcerpt(44100, 44100 * 60);
    EXPECT_EQ(short_.start, 0u);
    EXPECT_EQ(short_.frames, 44100u * 60);
}

TEST(MeasureLoudness, CancelsBetweenBlocks) {
    const auto tone = sine(1000, 0.5, 48000, 48000 * 10);
    try {
        measureLoudness(toBuffer({tone}, 48000), {}, [] { return true; });
        FAIL() << "not cancelled";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is("Orvanta", 100));
    }
}
