#include "analyzer/PerceptualScores.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta;
using namespace orvanta::AudioAnalyzer;
using namespace orvanta::test;

TEST(PerceptualScores, WarmthAndClarityOfTheReferenceBalance) {
    const Balance balanced{0.05, 0.20, 0.16, 0.39, 0.20};
    EXPECT_NEAR(warmthScore(balanced), 1.0, 1e-9);
    EXPECT_NEAR(clarityScore(balanced), 0.793, 1e-9);

    // Too much sub-bass: s = 0.8 while closeness stays 1.
    EXPECT_NEAR(warmthScore({0.25, 0.20, 0.16, 0.39, 0.20}), 0.3 * 0.8 + 0.7, 1e-9);
    // A dull top (1.5 × (mid + highMid) < bass + ½ lowMid) costs another 0.2 of s.
    // Here w = 0.35: closeness 0.65, s = 0.8.
    EXPECT_NEAR(warmthScore({0.0, 0.30, 0.10, 0.10, 0.10}), 0.3 * 0.8 + 0.7 * 0.65, 1e-9);
    // Far from 0.28 there is no closeness left.
    EXPECT_NEAR(warmthScore({0.0, 0.40, 0.20, 0.10, 0.05}), 0.3 * 0.8, 1e-9);
    EXPECT_EQ(clarityScore({0, 0, 0, 0.6, 0.4}), 1.0);
}

TEST(PerceptualScores, DynamicsStepsAtEightDecibels) {
    // r = 8 dB: a = 0.76; c = 8: k = 1.0.
    EXPECT_NEAR(dynamicsScore(8.0, 8.0), 0.55 * 0.76 + 0.45 * 1.0, 1e-12);
    // Just below 8 dB a falls to almost 0.6.
    EXPECT_NEAR(dynamicsScore(7.9999, 8.0), 0.55 * 0.6 + 0.45, 1e-4);
    EXPECT_NEAR(dynamicsScore(14.0, 8.0), 1.0, 1e-12);
    // Crest factor 2: k = 1/3.
    EXPECT_NEAR(dynamicsScore(14.0, 2.0), 0.55 + 0.45 / 3.0, 1e-12);
    // Very wide ranges and crests bottom out at 0.3.
    EXPECT_NEAR(dynamicsScore(60.0, 40.0), 0.3, 1e-12);
    EXPECT_NEAR(crestFactor(1.0, 0.0), 10000.0, 1e-6);
    EXPECT_NEAR(crestFactor(1.0, 0.5), 2.0, 1e-6);
}

TEST(PerceptualScores, SpaciousnessFromChannelCorrelation) {
    const auto noise = whiteNoise(0.5, 100000, 5);
    EXPECT_EQ(spaciousnessScore(toBuffer({noise}, 44100)), 0.5);
    EXPECT_NEAR(spaciousnessScore(toBuffer({noise, noise}, 44100)), 0.5, 1e-5);
    std::vector<float> inverted(noise);
    for (float& x : inverted) x = -x;
    EXPECT_EQ(spaciousnessScore(toBuffer({noise, inverted}, 44100)), 0.3);

    // R = 0.6·L + 0.8·N with independent N: ρ ≈ 0.6, the best score.
    const auto other = whiteNoise(0.5, 100000, 11);
    std::vector<float> right(noise.size());
    for (size_t i = 0; i < right.size(); ++i) right[i] = 0.6f * noise[i] + 0.8f * other[i];
    EXPECT_NEAR(spaciousnessScore(toBuffer({noise, right}, 44100)), 1.0, 0.03);
    EXPECT_NEAR(spaciousnessFromCorrelation(0.6), 1.0, 1e-12);
    EXPECT_NEAR(spaciousnessFromCorrelation(0.2), 0.5, 1e-12);
    EXPECT_NEAR(spaciousnessFromCorrelation(0.9), 0.7, 1e-12);
    EXPECT_EQ(spaciousnessFromCorrelation(0.0), 0.3);
    // Silence in both channels has no correlation at all.
    EXPECT_EQ(spaciousnessScore(toBuffer({silence(1000), silence(1000)}, 44100)), 0.3);
}

TEST(PerceptualScores, DeviceScoresStayInRange) {
    const Balance balanced{0.05, 0.20, 0.16, 0.39, 0.20};
    // t = 0.001 + 0.03 + 0.096 + 0.39 + 0.19 = 0.707, + 0.1 (presence), + 0.05·d + 0.15·c, − 0.2·(w − 0.8).
    EXPECT_NEAR(macBookScore(balanced, 0.8, 0.793, 1.0), 0.707 + 0.1 + 0.04 + 0.15 * 0.793 - 0.04, 1e-9);
    const double loud = std::clamp((-10.0 + 20.0) / 15.0, 0.0, 1.0);
    const double t = 0.9 * 0.05 + 0.20 + 0.16 + 0.39 + 0.95 * 0.20;
    const double tilt = 1.0 - 0.5 * std::fabs(0.36 - 0.59);
    EXPECT_NEAR(paSystemScore(balanced, 0.8, 0.793, 1.0, -10.0),
                std::min(0.08 + 0.15 * tilt + 0.55 * t + 0.0793 + 0.12 + 0.08 * loud, 1.0), 1e-9);
    // At −20 LUFS the loudness term is 0.
    EXPECT_NEAR(paSystemScore(balanced, 0.8, 0.793, 1.0, -20.0),
                0.08 + 0.15 * tilt + 0.55 * t + 0.0793 + 0.12, 1e-9);
    EXPECT_EQ(macBookScore({0, 0, 0, 1.0, 1.0}, 1.0, 1.0, 0.0), 1.0);
    EXPECT_EQ(paSystemScore({}, 0, 0, 0, -70), 0.15 * 1.0);
}

TEST(PerceptualScores, PenaltiesAndTheirCaps) {
    EXPECT_NEAR(loudnessPenalty(-20.0, -14.0), 6.0, 1e-12);
    EXPECT_EQ(loudnessPenalty(-16.0, -14.0), 0.0);
    EXPECT_EQ(loudnessPenalty(-70.0, -14.0), 12.0);
    EXPECT_NEAR(overPenalty(1.2), 4.0, 1e-9);
    EXPECT_EQ(overPenalty(2.0), 8.0);
    EXPECT_EQ(overPenalty(1.0), 0.0);
    EXPECT_NEAR(clippingPenalty(0.005), 5.0, 1e-12);
    EXPECT_EQ(clippingPenalty(0.02), 12.0);
    EXPECT_EQ(clippingPenalty(0.0), 0.0);

    OverallScoreInputs perfect{1, 1, 1, 1, 1, 1, -14.0, -14.0, 0.9, 0.0};
    EXPECT_NEAR(overallScore(perfect), 100.0, 1e-9);
    OverallScoreInputs clipped = perfect;
    clipped.lufsIntegrated = -20.0;
    clipped.peakLevel = 1.2;
    clipped.clippingFraction = 0.02;
    EXPECT_NEAR(overallScore(clipped), 100.0 - 6.0 - 4.0 - 12.0, 1e-9);
    EXPECT_EQ(overallScore(OverallScoreInputs{0, 0, 0, 0, 0, 0, -70.0, -14.0, 2.0, 1.0}), 0.0);
}

TEST(PerceptualScores, VerdictBoundaries) {
    EXPECT_EQ(verdictLabel(0.0), "Poor");
    EXPECT_EQ(verdictSentence(39.99), "Significant issues detected.");
    EXPECT_EQ(verdictLabel(40.0), "Fair");
    EXPECT_EQ(verdictSentence(40.0), "Some issues present.");
    EXPECT_EQ(verdictLabel(60.0), "Good");
    EXPECT_EQ(verdictSentence(74.9), "Acceptable quality.");
    EXPECT_EQ(verdictLabel(75.0), "Excellent");
    EXPECT_EQ(verdictSentence(75.0), "Well-balanced audio.");
    EXPECT_EQ(verdictLabel(89.99), "Excellent");
    EXPECT_EQ(verdictLabel(90.0), "Reference");
    EXPECT_EQ(verdictLabel(100.0), "Reference");
    EXPECT_EQ(verdictSentence(100.0), "Professional quality.");
}
