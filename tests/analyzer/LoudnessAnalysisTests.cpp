#include "analyzer/LoudnessAnalysis.h"
#include "platform/Error.h"
#include "support/CommandRunner.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::AudioAnalyzer;
using namespace orvanta::test;

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

TEST(MeasureLoudness, TheSameSongReadsTheSameAtEveryRate) {
    // One song, resampled: K-weighting designed for each rate keeps every figure in place, and the
    // integrated figure follows libebur128 (the analyzer's 200 ms blocks gate a little differently).
    const auto original = writeMusic(scratchPath("song-44100.wav"), 8.0, -3.0, 5, 44100);
    LoudnessMeasurement reference;
    for (const auto& [rate, path] : songAtRates(original, 44100.0, {44100.0, 48000.0, 96000.0, 192000.0})) {
        double fileRate = 0;
        const Channels channels = readWithSndfile(path, &fileRate);
        ASSERT_EQ(fileRate, rate);
        const LoudnessMeasurement loudness = measureLoudness(toBuffer(channels, rate));
        if (rate == 44100.0) reference = loudness;
        EXPECT_NEAR(loudness.integrated, reference.integrated, 0.1) << rate;
        EXPECT_NEAR(loudness.momentaryMax, reference.momentaryMax, 0.1) << rate;
        EXPECT_NEAR(loudness.shortTermMax, reference.shortTermMax, 0.1) << rate;
        EXPECT_NEAR(loudness.integrated + 0.5, ebur128Loudness(channels, rate), 0.2) << rate;
    }
}

TEST(MeasureLoudness, ReportsProgressOverTheWholeFile) {
    const double rate = 44100;
    const auto noise = whiteNoise(0.3, size_t(rate * 10), 2);
    std::vector<double> reported;
    measureLoudness(toBuffer({noise, noise}, rate), [&reported](double f) { reported.push_back(f); });
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0); // the end is always reported; earlier steps are at least 0.02
    for (size_t i = 1; i + 1 < reported.size(); ++i) EXPECT_GE(reported[i] - reported[i - 1], 0.02 - 1e-12);
}

TEST(MeasureLoudness, GatesQuietPassagesAndFallsBackForSilence) {
    // Loud half and a half 30 dB down: the relative gate drops the quiet half.
    const double rate = 48000;
    auto mixed = sine(1000, 0.5, rate, size_t(rate * 10));
    const auto loudOnly = measureLoudness(toBuffer({mixed}, rate)).integrated;
    for (size_t i = mixed.size() / 2; i < mixed.size(); ++i) mixed[i] *= float(std::pow(10.0, -1.5));
    EXPECT_NEAR(measureLoudness(toBuffer({mixed}, rate)).integrated, loudOnly, 0.1);

    const auto silent = measureLoudness(toBuffer({silence(48000 * 5), silence(48000 * 5)}, rate));
    EXPECT_EQ(silent, (LoudnessMeasurement{-70.0, -70.0, -70.0, 0.0, Measurability::silent}));

    EXPECT_EQ(measureLoudness(AudioBuffer(AudioFormat{48000, 2}, 0)),
              (LoudnessMeasurement{-70.0, -70.0, -70.0, 0.0, Measurability::tooShort}));
    // Shorter than one 200 ms block: nothing to average.
    const auto blip = measureLoudness(toBuffer({sine(1000, 0.5, rate, 1000)}, rate));
    EXPECT_EQ(blip.integrated, -70.0);
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
