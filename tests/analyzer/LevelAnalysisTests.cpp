#include "analyzer/LevelAnalysis.h"
#include "analyzer/StereoAnalysis.h"
#include "analyzer/UseCaseRecommendation.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::AudioAnalyzer;
using namespace orvanta::test;

TEST(MixToMono, AveragesChannelsAndReportsProgressToTheEnd) {
    std::vector<double> reported;
    const auto record = [&reported](double f) { reported.push_back(f); };

    const auto stereo = toBuffer({{1.0f, 3.0f, -1.0f}, {3.0f, 5.0f, 1.0f}}, 44100);
    EXPECT_EQ(mixToMono(stereo, record), (std::vector<float>{2.0f, 4.0f, 0.0f}));
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);

    Channels six(6, std::vector<float>(5000, 0.0f));
    for (size_t c = 0; c < 6; ++c) six[c][4999] = float(c + 1); // 1 + … + 6 = 21
    const auto mono = mixToMono(toBuffer(six, 48000));
    ASSERT_EQ(mono.size(), 5000u);
    EXPECT_FLOAT_EQ(mono[4999], 21.0f / 6.0f);
    EXPECT_EQ(mono[0], 0.0f);

    reported.clear();
    const auto single = sine(440, 0.5, 44100, 200000);
    EXPECT_EQ(mixToMono(toBuffer({single}, 44100), record), single);
    EXPECT_EQ(reported.size(), 4u); // chunks of 65 536 frames
    EXPECT_EQ(reported.back(), 1.0);

    EXPECT_TRUE(mixToMono(AudioBuffer(AudioFormat{44100, 2}, 0)).empty());
}

TEST(MeasureDynamicRange, RatioOfLoudToQuietWindowsInDecibels) {
    // Long constant stretches at 0.5 and 0.05: the 90th/10th percentile windows differ by 20 dB.
    std::vector<float> twoLevels(200000, 0.5f);
    std::fill(twoLevels.begin() + 100000, twoLevels.end(), 0.05f);
    EXPECT_NEAR(measureDynamicRange(twoLevels), 20.0, 1e-4);

    EXPECT_NEAR(measureDynamicRange(std::vector<float>(100000, 0.3f)), 0.0, 1e-6);
    // Windows at or below −80 dBFS are not counted: too few remain.
    EXPECT_EQ(measureDynamicRange(std::vector<float>(100000, 0.00005f)), 0.0);
    // 10 windows of 4096 at hop 2048 fit into 22 528 samples, 11 into 24 576.
    std::vector<float> ten(22528, 0.5f), eleven(24576, 0.5f);
    ten[0] = eleven[0] = 0.0f;
    std::fill(ten.begin() + 12000, ten.end(), 0.005f);
    std::fill(eleven.begin() + 12000, eleven.end(), 0.005f);
    EXPECT_EQ(measureDynamicRange(ten), 0.0);
    EXPECT_GT(measureDynamicRange(eleven), 30.0);
    EXPECT_EQ(measureDynamicRange({}), 0.0);
}

TEST(MeasureClipping, CountsSamplesAtOrAboveFullScale) {
    const auto clipping = measureClipping({1.0f, -1.0f, 0.999f, 1.5f, 0.0f});
    EXPECT_EQ(clipping.clippingCount, 3);
    EXPECT_DOUBLE_EQ(clipping.clippingFraction, 0.6);
    EXPECT_EQ(measureClipping({}).clippingFraction, 0.0);
}

TEST(MeasureMidSide, EnergySharesOfMidAndSide) {
    const auto noise = whiteNoise(0.5, 50000, 3);
    const auto mono = measureMidSide(toBuffer({noise}, 44100));
    EXPECT_EQ(mono.midRatio, 1.0);
    EXPECT_EQ(mono.sideRatio, 0.0);
    EXPECT_EQ(mono.width, 0.0);

    const auto same = measureMidSide(toBuffer({noise, noise}, 44100));
    EXPECT_DOUBLE_EQ(same.midRatio, 1.0);
    EXPECT_DOUBLE_EQ(same.sideRatio, 0.0);

    std::vector<float> inverted(noise);
    for (float& x : inverted) x = -x;
    const auto opposite = measureMidSide(toBuffer({noise, inverted}, 44100));
    EXPECT_DOUBLE_EQ(opposite.sideRatio, 1.0);
    EXPECT_EQ(opposite.width, 2.0); // side ÷ (almost nothing), clamped

    // Independent channels of equal level: mid and side carry the same energy.
    const auto wide = measureMidSide(toBuffer({noise, whiteNoise(0.5, 50000, 9)}, 44100));
    EXPECT_NEAR(wide.midRatio, 0.5, 0.02);
    EXPECT_NEAR(wide.width, 1.0, 0.05);
}

TEST(RecommendUseCase, NearestTargetWithEarlierRowWinningTies) {
    const auto radio = recommendUseCase(-13.0, -120.0);
    EXPECT_EQ(radio.recommendedUseCase, "RADIO");
    EXPECT_EQ(radio.recommendedTargetLUFS, -14.0);
    EXPECT_EQ(radio.recommendationNote, "Nivel apropiat de tinta");

    const auto club = recommendUseCase(-9.0, -120.0);
    EXPECT_EQ(club.recommendedUseCase, "CLUB");
    EXPECT_EQ(club.recommendationNote, "Nivel apropiat de tinta");

    const auto festival = recommendUseCase(-6.0, -3.0);
    EXPECT_EQ(festival.recommendedUseCase, "FESTIVAL");
    EXPECT_EQ(festival.recommendedTargetLUFS, -8.0);
    EXPECT_EQ(festival.recommendationNote, "Putin prea tare pentru FESTIVAL");

    EXPECT_EQ(recommendUseCase(-20.0, -120.0).recommendationNote, "Putin prea incet pentru RADIO");
    EXPECT_EQ(recommendUseCase(-11.0, -120.0).recommendedUseCase, "EVENTS");

    EXPECT_EQ(recommendUseCase(-14.2, -0.5).recommendationNote, "Nivel apropiat de tinta • True-peak peste -1 dBTP");
    EXPECT_EQ(recommendUseCase(-14.2, -1.0).recommendationNote, "Nivel apropiat de tinta");
}
