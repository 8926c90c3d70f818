#include "support/AudioMeasures.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

using namespace orvanta::test;

namespace {

std::vector<float> plus(std::vector<float> a, const std::vector<float>& b) {
    for (size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    return a;
}

} // namespace

TEST(ThdPlusNoise, PureSinesReadBelowMinus100DbAtAnyFrequencyLevelAndOffset) {
    const double rate = 48000.0;
    for (double frequency : {100.0, 997.0, 1000.0, 5000.0, 12345.6}) {
        for (double amplitude : {0.01, 0.5, 0.99}) {
            const auto tone = sine(frequency, amplitude, rate, size_t(rate * 2));
            EXPECT_LT(thdPlusNoiseDb(tone, rate, frequency), -100.0) << frequency << " Hz at " << amplitude;
        }
    }
    // DC is not distortion.
    auto offset = sine(1000.0, 0.5, rate, size_t(rate * 2));
    for (float& x : offset) x += 0.1f;
    EXPECT_LT(thdPlusNoiseDb(offset, rate, 1000.0), -100.0);
}

TEST(ThdPlusNoise, OnePercentThirdHarmonicReadsMinus40Db) {
    for (double rate : {44100.0, 48000.0}) {
        for (double frequency : {100.0, 1000.0, 5000.0}) {
            const size_t frames = size_t(rate * 2);
            const auto tone = plus(sine(frequency, 0.5, rate, frames), sine(3 * frequency, 0.005, rate, frames, 1.0));
            EXPECT_NEAR(thdPlusNoiseDb(tone, rate, frequency), -40.0, 0.5) << frequency << " Hz at " << rate;
        }
    }
}

TEST(ThdPlusNoise, HarmonicsAbove20kHzAreNotCounted) {
    const double rate = 48000.0;
    const size_t frames = size_t(rate * 2);
    const auto tone = plus(sine(7000.0, 0.5, rate, frames), sine(21000.0, 0.05, rate, frames));
    EXPECT_LT(thdPlusNoiseDb(tone, rate, 7000.0), -100.0);
}

TEST(ThdPlusNoise, WhiteNoiseReadsItsSignalToNoiseRatio) {
    const double rate = 48000.0;
    const size_t frames = size_t(rate * 3);
    for (double snrDb : {20.0, 60.0, 90.0}) {
        // Uniform noise of amplitude a has power a²/3; the tone's power is A²/2.
        const double amplitude = 0.5;
        const double noiseAmplitude = std::sqrt(3.0 * amplitude * amplitude / 2.0 * std::pow(10.0, -snrDb / 10.0));
        const auto noisy = plus(sine(1000.0, amplitude, rate, frames), whiteNoise(noiseAmplitude, frames, 9));
        // Flat noise up to 20 kHz holds 20/24 of its power at this rate.
        const double expected = -snrDb + 10.0 * std::log10(20000.0 / 24000.0);
        EXPECT_NEAR(thdPlusNoiseDb(noisy, rate, 1000.0), expected, 0.2) << snrDb << " dB";
    }
}

TEST(ThdPlusNoise, OnsetsAndTailsOutsideTheMiddleAreIgnored) {
    // A click in the first eighth and silence in the last one do not disturb the steady middle.
    const double rate = 44100.0;
    auto tone = sine(1000.0, 0.5, rate, size_t(rate * 2));
    tone[100] = 1.0f;
    std::fill(tone.end() - long(tone.size() / 10), tone.end(), 0.0f);
    EXPECT_LT(thdPlusNoiseDb(tone, rate, 1000.0), -100.0);
}

TEST(ThdPlusNoise, RejectsTooShortSignalsAndFundamentalsOutOfRange) {
    const auto tone = sine(1000.0, 0.5, 48000.0, 48000);
    EXPECT_THROW(thdPlusNoiseDb(std::vector<float>(tone.begin(), tone.begin() + 4000), 48000.0, 1000.0),
                 std::invalid_argument);
    EXPECT_THROW(thdPlusNoiseDb(tone, 48000.0, 0.0), std::invalid_argument);
    EXPECT_THROW(thdPlusNoiseDb(tone, 48000.0, 21000.0), std::invalid_argument);
    EXPECT_THROW(thdPlusNoiseDb(tone, 32000.0, 16000.0), std::invalid_argument);
    EXPECT_EQ(thdPlusNoiseDb(silence(48000), 48000.0, 1000.0), std::numeric_limits<double>::infinity());
}

TEST(FlatTopRuns, HardClippedSineHasTwoRunsPerCycle) {
    const double rate = 44100.0;
    auto tone = sine(100.0, 1.0, rate, size_t(rate * 6), 0.1);
    for (float& x : tone) x = std::clamp(x, -0.9f, 0.9f);
    // 100 cycles per second, one flat top and one flat bottom each: 12,000 per minute.
    EXPECT_NEAR(flatTopRunsPerMinute({tone}, rate), 12000.0, 20.0);
}

TEST(FlatTopRuns, CountsOnlyRunsOfThreeNearThePeakInAnyChannel) {
    const double rate = 6000.0; // 6,000 frames make one second
    std::vector<float> left(6000, 0.0f), right(6000, 0.0f);
    right[10] = right[11] = right[12] = right[13] = -0.5f; // one run of four at the peak, in the second channel
    right[100] = right[101] = 0.5f;                         // two equal samples are no run
    right[200] = 0.5f;
    right[201] = right[202] = right[203] = 0.494f;          // just over 0.1 dB below the peak (0.49428)
    left[300] = left[301] = left[302] = 0.4945f;            // within 0.1 dB
    EXPECT_DOUBLE_EQ(flatTopRunsPerMinute({left, right}, rate), 2.0 * 60.0);
    EXPECT_EQ(flatTopRunsPerMinute({silence(6000), silence(6000)}, rate), 0.0);
    EXPECT_EQ(flatTopRunsPerMinute({}, rate), 0.0);
    EXPECT_EQ(flatTopRunsPerMinute({sine(1000.0, 0.9, 44100.0, 44100)}, 44100.0), 0.0);
}

TEST(FlatTopRuns, SeesClippingThroughA24BitFile) {
    const double rate = 44100.0;
    auto tone = sine(50.0, 2.0, rate, size_t(rate * 3), 0.2); // clipped at full scale by the writer
    const auto path = scratchPath("clipped.wav");
    writeWav(path, replicate(tone, 2), rate, SampleFormat::pcm24);
    double readRate = 0.0;
    const Channels channels = readWithSndfile(path, &readRate);
    // 50 cycles per second, two flat parts each, in both channels.
    EXPECT_NEAR(flatTopRunsPerMinute(channels, readRate), 2.0 * 2.0 * 50.0 * 60.0, 60.0);
}

TEST(Ebur128Measures, SineLoudnessAndTruePeakOfARealFile) {
    const double rate = 44100.0;
    // A 1 kHz sine of −20 dBFS in both channels reads −20 LUFS.
    const auto loud = scratchPath("sine.wav");
    writeWav(loud, replicate(sine(1000.0, 0.1, rate, size_t(rate * 5)), 2), rate);
    EXPECT_NEAR(ebur128IntegratedLoudness(loud), -20.0, 0.1);
    // At a quarter of the rate and 45° of phase every sample misses the crest by 3 dB; the true
    // peak is the crest, 0.5 (−6.02 dBTP).
    const auto quarter = scratchPath("quarter.wav");
    const auto tone = sine(rate / 4, 0.5, rate, size_t(rate * 2), std::numbers::pi / 4);
    ASSERT_NEAR(peakOf(tone), 0.5 / std::sqrt(2.0), 1e-6);
    writeWav(quarter, replicate(tone, 2), rate);
    EXPECT_NEAR(ebur128TruePeakDb(quarter), -6.02, 0.2);
}

TEST(Ebur128Measures, SilenceReadsMinusInfinity) {
    const auto reading = measureWithEbur128(replicate(silence(48000), 2), 48000.0);
    EXPECT_EQ(reading.integratedLufs, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(reading.truePeakDb, -std::numeric_limits<double>::infinity());
    EXPECT_THROW(ebur128IntegratedLoudness(scratchPath("missing.wav")), std::runtime_error);
}
