#include "engine/GainStaging.h"
#include "engine/LimiterPass.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;

namespace {
float fromDB(float db) { return std::pow(10.0f, db / 20.0f); }
} // namespace

TEST(GainStaging, InitialGainAddsTheExtraTermOfItsCase) {
    EXPECT_NEAR(initialGain(-20.0f, -6.0f, -14.0f), 2.754f, 0.001f); // boost 6: 2.0 + 0.2 + 0.6
    EXPECT_NEAR(initialGain(-8.0f, -1.0f, -14.0f), 0.452f, 0.001f);  // reduce 6 below −13: −0.9
    EXPECT_FLOAT_EQ(initialGain(-10.0f, -3.0f, -9.0f), fromDB(1.6f)); // boost 1: 0.6
    // The remaining rows, each just inside its range.
    EXPECT_NEAR(initialGain(-24.0f, -4.0f, -14.0f), fromDB(10.0f + 2.8f + 0.2f + 0.8f), 1e-4f);   // a > 9
    EXPECT_NEAR(initialGain(-22.0f, -4.0f, -14.0f), fromDB(8.0f + 2.4f + 0.2f + 0.6f), 1e-4f);    // a > 7
    EXPECT_NEAR(initialGain(-18.0f, -4.0f, -14.0f), fromDB(4.0f + 1.5f + 0.25f + 0.2f), 1e-4f);   // a > 3
    EXPECT_NEAR(initialGain(-16.0f, -4.0f, -14.0f), fromDB(2.0f + 0.8f + 0.35f), 1e-4f);          // a > 1
    EXPECT_NEAR(initialGain(-11.0f, -1.0f, -14.0f), fromDB(-3.0f - 0.1f - 0.1f), 1e-4f);          // a > 2
    EXPECT_NEAR(initialGain(-13.0f, -1.0f, -14.0f), fromDB(-1.0f - 0.05f), 1e-4f);                // a ≤ 2
    EXPECT_NEAR(initialGain(-2.0f, -0.1f, -8.0f), fromDB(-6.0f - 0.3f), 1e-4f);                   // loud target, a > 3
    EXPECT_NEAR(initialGain(-6.0f, -0.1f, -8.0f), fromDB(-2.0f - 0.06f), 1e-4f);                  // loud target, a ≤ 3
    // −13 counts as a loud target.
    EXPECT_NEAR(initialGain(-7.0f, -0.1f, -13.0f), fromDB(-6.0f - 0.3f), 1e-4f);
    // A boost above 3 dB grows with the headroom; below it does not.
    EXPECT_GT(initialGain(-20.0f, -12.0f, -14.0f), initialGain(-20.0f, -2.0f, -14.0f));
    EXPECT_EQ(initialGain(-16.0f, -12.0f, -14.0f), initialGain(-16.0f, -2.0f, -14.0f));
}

TEST(GainStaging, CorrectionUsesTheReduceRowsOrSixTenthsOfABoost) {
    EXPECT_FLOAT_EQ(correctionFactor(-14.5f, -14.0f), fromDB(0.5f + 0.3f));
    EXPECT_NEAR(correctionFactor(-13.5f, -14.0f), fromDB(-0.525f), 1e-6f);
    EXPECT_NEAR(correctionFactor(-2.0f, -8.0f), fromDB(-6.0f - 0.3f), 1e-5f);
    // Far below the target the boost rows are not used after the first pass.
    EXPECT_NEAR(correctionFactor(-24.0f, -14.0f), fromDB(16.0f), 1e-3f);
    EXPECT_EQ(correctionFactor(-8.0f, -8.0f), 1.0f);
}

TEST(GainStaging, LimiterThresholdFollowsCeilingAndTarget) {
    EXPECT_NEAR(limiterThresholdFor(-9.0f, -1.0f), 0.8824f, 1e-4f);
    EXPECT_NEAR(limiterThresholdFor(-14.0f, -1.0f), 0.8645f, 1e-4f);
    EXPECT_FLOAT_EQ(limiterThresholdFor(-13.0f, 0.0f), 0.99f);
}

TEST(GainStaging, ModelledGainFindsTheTargetOnALimitingCurveOfTheModelsShape) {
    // A chain whose loss grows as 0.04·(gain − 6 dB)² over a −20 LUFS input: two passes pin the curve
    // down, so the next gain lands on the target exactly.
    const float input = -20.0f;
    const auto loudnessAt = [input](float gainDb) {
        const float excess = std::max(gainDb - 6.0f, 0.0f);
        return input + gainDb - 0.04f * excess * excess;
    };
    const std::vector<MeasuredPass> passes = {{14.0f, loudnessAt(14.0f)}, {10.0f, loudnessAt(10.0f)}};
    const float next = 20.0f * std::log10(modelledGain(input, 3.0f, passes, -10.0f));
    EXPECT_NEAR(loudnessAt(next), -10.0f, 0.01f);

    // Nothing limited: one dB is one LU from the last pass.
    EXPECT_NEAR(20.0f * std::log10(modelledGain(input, 30.0f, {{2.0f, -18.0f}}, -10.0f)), 10.0f, 1e-4f);
    // A target beyond the curve's top: the gain of the loudest result, not an ever larger one.
    const float loudest = 20.0f * std::log10(modelledGain(input, 3.0f, passes, 0.0f));
    EXPECT_NEAR(loudest, 6.0f + 0.5f / 0.04f, 0.05f);
}
