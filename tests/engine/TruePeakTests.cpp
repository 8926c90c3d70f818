// True-peak detection, the true-peak limiter and the soft clipper, with libebur128 as the reference
// meter for true peaks.
#include "engine/SoftClipper.h"
#include "engine/TruePeakDetector.h"
#include "engine/TruePeakLimiter.h"
#include "support/AudioMeasures.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

double referenceTruePeakDb(const Channels& channels, double rate) {
    return measureWithEbur128(channels, rate).truePeakDb;
}

double decibels(double linear) { return 20.0 * std::log10(linear); }

// Dense, transient-rich material well above full scale: clicks, bass, bright noise.
Channels loudMaterial(double rate, size_t frames, double level) {
    const auto clicks = clickTrack(140, rate, frames, 1.0);
    const auto bass = sine(50, 0.7, rate, frames);
    const auto noise = whiteNoise(0.5, frames, 7);
    Channels out(2, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        out[0][i] = float(level * (clicks[i] + bass[i] + noise[i]));
        out[1][i] = float(level * (0.6 * clicks[i] - bass[i] + noise[(i * 5) % frames]));
    }
    return out;
}

} // namespace

TEST(TruePeak, DetectorReadsTheCrestBetweenSamplesAndAgreesWithTheReferenceMeter) {
    // A quarter-rate sine at 45°: every sample sits at 0.707 of the crest.
    const double rate = 48000;
    const auto tone = sine(rate / 4, 0.5, rate, 48000, M_PI / 4);
    TruePeakDetector detector(1);
    detector.process(0, tone.data(), uint32_t(tone.size()), nullptr);
    EXPECT_NEAR(peakOf(tone), 0.5 * std::sqrt(0.5), 1e-4);
    // Within the interpolator's ripple, which like the reference meter's errs upwards at this frequency.
    EXPECT_NEAR(decibels(detector.maximum()), decibels(0.5), 0.15);

    // A constant reads as itself.
    std::vector<float> level(64, 0.25f), peaks(64);
    TruePeakDetector steady(1);
    steady.process(0, level.data(), 64, peaks.data());
    EXPECT_NEAR(peaks[40], 0.25f, 1e-6f);

    // Music-like material, through a real file, against libebur128.
    for (double fileRate : {44100.0, 48000.0}) {
        const auto path = writeMusic(scratchPath("music.wav"), 6, -3.0, 5, fileRate);
        const Channels music = readWithSndfile(path);
        EXPECT_NEAR(measureTruePeakDb(path), referenceTruePeakDb(music, fileRate), 0.05) << fileRate;
    }
}

TEST(TruePeak, LimiterHoldsTheCeilingAndLeavesQuietMaterialAlone) {
    const double rate = 44100;
    const size_t frames = size_t(rate * 4);
    for (double ceilingDb : {-0.3, -1.0, -3.0}) {
        Channels signal = loudMaterial(rate, frames, 2.0);
        TruePeakLimiter limiter(2, float(rate), float(std::pow(10.0, ceilingDb / 20.0)), uint32_t(frames));
        limiter.detect(0, signal[0].data(), uint32_t(frames));
        limiter.detect(1, signal[1].data(), uint32_t(frames));
        float* channels[] = {signal[0].data(), signal[1].data()};
        limiter.apply(channels, uint32_t(frames));
        EXPECT_LE(referenceTruePeakDb(signal, rate), ceilingDb + 0.01) << ceilingDb;
        EXPECT_LT(limiter.smallestGain(), 0.5f);
    }

    // Under the ceiling nothing changes but the delay; silence stays silence.
    Channels quiet = loudMaterial(rate, frames, 0.2);
    const Channels original = quiet;
    TruePeakLimiter limiter(2, float(rate), 1.0f, uint32_t(frames));
    for (int c = 0; c < 2; ++c) limiter.detect(c, quiet[size_t(c)].data(), uint32_t(frames));
    float* channels[] = {quiet[0].data(), quiet[1].data()};
    limiter.apply(channels, uint32_t(frames));
    const size_t delay = size_t(limiter.latencySamples());
    for (size_t i = 0; i < delay; ++i) ASSERT_EQ(quiet[0][i], 0.0f);
    for (size_t i = delay; i < frames; ++i) ASSERT_EQ(quiet[1][i], original[1][i - delay]) << i;
    EXPECT_EQ(limiter.smallestGain(), 1.0f);
}

TEST(TruePeak, LimiterGainDoesNotFollowTheCyclesOfBass) {
    // A 70 Hz sine 6 dB over the ceiling: once settled, the gain is still, so the output is the sine
    // scaled, with no ripple between its crests.
    const double rate = 44100;
    const size_t frames = size_t(rate * 2);
    std::vector<float> bass = sine(70, 1.0, rate, frames);
    TruePeakLimiter limiter(1, float(rate), 0.5f, uint32_t(frames));
    limiter.detect(0, bass.data(), uint32_t(frames));
    float* channels[] = {bass.data()};
    limiter.apply(channels, uint32_t(frames));
    double lowest = 1.0, highest = 0.0;
    for (size_t start = frames / 2; start + 630 < frames; start += 630) { // one cycle at a time
        double crest = 0;
        for (size_t i = start; i < start + 630; ++i) crest = std::max(crest, double(std::fabs(bass[i])));
        lowest = std::min(lowest, crest);
        highest = std::max(highest, crest);
    }
    EXPECT_LE(highest, 0.5);
    EXPECT_GT(lowest, 0.499);
}

TEST(TruePeak, SoftClipperRoundsOffOnlyWhatPassesTheKneeAndNeverMoreThanItsDepth) {
    const float ceiling = 0.9f;
    SoftClipper clipper(1, ceiling, 3.0f);
    const float knee = ceiling * std::pow(10.0f, -3.0f / 20.0f);
    float previous = 0.0f;
    for (float x = 0.0f; x <= 4.0f; x += 0.001f) {
        const float y = clipper.shape(x);
        ASSERT_EQ(clipper.shape(-x), -y) << "odd";
        if (x <= knee) {
            ASSERT_EQ(y, x);
        }
        ASSERT_GE(y, previous) << "monotonic at " << x;
        ASSERT_GE(y, x * std::pow(10.0f, -3.0f / 20.0f) * 0.9999f) << "at most 3 dB taken at " << x;
        if (x <= ceiling * std::pow(10.0f, 3.0f / 20.0f)) {
            ASSERT_LE(y, ceiling) << x;
        }
        previous = y;
    }

    // Below the knee a signal comes through exactly, only delayed.
    const double rate = 44100;
    std::vector<float> tone = sine(1000, 0.5, rate, 4096);
    const std::vector<float> original = tone;
    clipper.process(0, tone.data(), uint32_t(tone.size()));
    const size_t delay = SoftClipper::latencySamples;
    for (size_t i = delay; i < tone.size(); ++i) ASSERT_EQ(tone[i], original[i - delay]) << i;

    // A loud tone loses its crest, and nothing appears where there was silence.
    SoftClipper loud(1, ceiling, 3.0f);
    std::vector<float> hot = sine(200, 1.2, rate, 8192);
    loud.process(0, hot.data(), uint32_t(hot.size()));
    EXPECT_LT(peakOf(std::vector<float>(hot.begin() + 2048, hot.end())), 1.0);
    std::vector<float> silent(4096, 0.0f);
    SoftClipper idle(1, ceiling, 3.0f);
    idle.process(0, silent.data(), uint32_t(silent.size()));
    EXPECT_EQ(peakOf(silent), 0.0);
}
