#include "engine/GainStaging.h"
#include "engine/LimiterPass.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;

namespace {
float fromDB(float db) { return std::pow(10.0f, db / 20.0f); }
} // namespace

TEST(GainStaging, InitialGainMovesTowardsTheTargetMoreTheFurtherAwayItIs) {
    // Over every target from quiet to loud and headrooms from 12 dB to none, inputs from 25 dB below
    // the target to 12 dB above it in steps of 0.01 dB.
    for (float target : {-20.0f, -14.0f, -13.0f, -9.0f, -8.0f, -6.0f}) {
        for (float peak : {-12.0f, -6.0f, -3.0f, -1.0f, -0.1f}) {
            float previousDb = 0.0f;
            bool first = true;
            for (int step = 0; step <= 3700; ++step) {
                const float input = target + 12.0f - 0.01f * float(step);
                const float gainDb = 20.0f * std::log10(initialGain(input, peak, target));
                const float distance = target - input;
                // A quieter song is raised, a louder one lowered.
                if (distance > 0.01f) EXPECT_GT(gainDb, 0.0f) << target << " " << peak << " " << input;
                if (distance < -0.01f) EXPECT_LT(gainDb, 0.0f) << target << " " << peak << " " << input;
                // The quieter the song, the more gain. Where the cut's rows meet 3 dB above a loud
                // target, the next row starts 0.08 dB deeper: the first pass allows for it, the
                // passes after it correct it.
                if (!first) EXPECT_GE(gainDb, previousDb - 0.1f) << target << " " << peak << " " << input;
                previousDb = gainDb;
                first = false;
            }
        }
    }
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

TEST(GainStaging, LimiterThresholdStaysUnderTheCeiling) {
    for (float target = -30.0f; target <= -3.0f; target += 0.5f) {
        for (float ceiling = -6.0f; ceiling <= 0.0f; ceiling += 0.1f) {
            const float thresholdDb = 20.0f * std::log10(limiterThresholdFor(target, ceiling));
            EXPECT_LT(thresholdDb, ceiling) << target << " " << ceiling;
            EXPECT_GT(thresholdDb, ceiling - 0.5f) << target << " " << ceiling;
        }
    }
    // A quiet target leaves more room under the ceiling than a loud one.
    EXPECT_LT(limiterThresholdFor(-14.0f, -1.0f), limiterThresholdFor(-9.0f, -1.0f));
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
