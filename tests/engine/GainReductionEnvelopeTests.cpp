#include "engine/GainReductionEnvelope.h"
#include "engine/LimiterPass.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

constexpr double rate = 44100.0;

// Renders `input` through a pass at `gain` towards −8 LUFS with a −0.3 dBTP ceiling.
GainReductionEnvelope envelopeOf(const Channels& input, float gain) {
    const auto in = scratchPath("envelope-in.wav");
    writeWav(in, input, rate);
    return renderLimiterPass(in, scratchPath("envelope-out.wav"), gain, 120, -8.0f, -0.3f, nullptr, nullptr)
        .gainReduction;
}

size_t expectedPoints(size_t frames, const GainReductionEnvelope& envelope) {
    const auto bucket = size_t(std::llround(envelope.bucketSeconds * rate));
    return (frames + bucket - 1) / bucket;
}

} // namespace

TEST(GainReductionEnvelope, SilenceIsNeverReduced) {
    const size_t frames = size_t(rate * 3.3);
    const GainReductionEnvelope envelope = envelopeOf(replicate(silence(frames), 2), 4.0f);
    ASSERT_FALSE(envelope.empty());
    EXPECT_EQ(envelope.reductionDb.size(), expectedPoints(frames, envelope));
    EXPECT_NEAR(envelope.bucketSeconds, GainReductionTracker::shortestBucketSeconds, 1e-9)
        << "a short song gets 10 ms buckets";
    for (float reduction : envelope.reductionDb) ASSERT_EQ(reduction, 0.0f);
    EXPECT_EQ(envelope.maximumDb, 0.0f);
    EXPECT_EQ(envelope.averageDb, 0.0f);
}

TEST(GainReductionEnvelope, AQuietSineIsLeftAlone) {
    // −20 dBFS at unity gain stays far under every threshold.
    const size_t frames = size_t(rate * 4);
    const GainReductionEnvelope envelope = envelopeOf(replicate(sine(440, 0.1, rate, frames), 2), 1.0f);
    EXPECT_LT(envelope.maximumDb, 0.1f);
    EXPECT_LT(envelope.averageDb, 0.05f);
}

TEST(GainReductionEnvelope, APushedSineIsPulledDownToTheCeiling) {
    // A 0.5 sine at 12 dB of gain peaks at 2.0 in front of the chain; its output holds just under the
    // −0.3 dBTP ceiling, so the steady part is reduced by 20·log10(2 / ceiling), about 6.3 dB, plus the
    // margin the limiters keep.
    const size_t frames = size_t(rate * 20);
    const GainReductionEnvelope envelope = envelopeOf(replicate(sine(997, 0.5, rate, frames), 2), 4.0f);
    EXPECT_EQ(envelope.reductionDb.size(), expectedPoints(frames, envelope));
    EXPECT_LE(envelope.reductionDb.size(), size_t(GainReductionTracker::targetPoints));
    const double least = 20.0 * std::log10(2.0 / std::pow(10.0, -0.3 / 20.0));
    for (size_t b = envelope.reductionDb.size() / 10; b < envelope.reductionDb.size() * 9 / 10; ++b) {
        ASSERT_GE(envelope.reductionDb[b], least - 0.05) << "bucket " << b;
        ASSERT_LE(envelope.reductionDb[b], least + 1.0) << "bucket " << b;
    }
    EXPECT_GT(envelope.maximumDb, least - 0.05);
    EXPECT_GE(envelope.maximumDb, envelope.averageDb);
    EXPECT_NEAR(envelope.averageDb, least + 0.3, 0.7);
}

TEST(GainReductionEnvelope, ATenMinuteSongHasAFewThousandPoints) {
    // Sized on construction: 4000 buckets at most, each at least 10 ms.
    const int64_t frames = int64_t(rate * 600);
    const GainReductionTracker tracker(rate, frames, 1.0f);
    EXPECT_LE(tracker.bucketCount(), size_t(GainReductionTracker::targetPoints));
    EXPECT_GT(tracker.bucketCount(), size_t(GainReductionTracker::targetPoints) * 9 / 10);
    EXPECT_GE(int64_t(tracker.bucketCount()) * tracker.bucketFrames(), frames);
    EXPECT_EQ(tracker.finish().reductionDb.size(), tracker.bucketCount());
}

TEST(GainReductionEnvelope, TheAverageDoesNotGrowWithTheLengthOfTheSong) {
    // Eight seconds of a 0.5 sine with a 2 ms click at full scale every half second, and the output a
    // limiter would make of it: the clicks pulled down to 0.5, 6.02 dB. One 10 ms window in fifty
    // holds a click, so the average over time is 6.02 / 50 dB, whether the passage plays alone or
    // repeated for 2 or 8 minutes (where the drawn buckets are far longer than a click).
    const size_t passage = size_t(rate * 8);
    std::vector<float> input = sine(440, 0.5, rate, passage);
    for (size_t click = 100; click < passage; click += size_t(rate / 2)) {
        for (size_t i = click; i < click + 88; ++i) input[i] = 1.0f;
    }
    std::vector<float> output = input;
    for (float& x : output) x = std::clamp(x, -0.5f, 0.5f);
    const double reduction = 20.0 * std::log10(2.0);

    for (int repeats : {1, 15, 60}) {
        GainReductionTracker tracker(rate, int64_t(passage) * repeats, 1.0f);
        const float* in[] = {input.data()};
        const float* out[] = {output.data()};
        for (int r = 0; r < repeats; ++r) {
            tracker.addInput(in, 1, uint32_t(passage));
            tracker.addOutput(out, 1, uint32_t(passage));
        }
        const GainReductionEnvelope envelope = tracker.finish();
        EXPECT_NEAR(envelope.averageDb, reduction / 50.0, 0.005) << repeats << " repeats";
        EXPECT_NEAR(envelope.maximumDb, reduction, 0.01) << repeats << " repeats";
    }
}
