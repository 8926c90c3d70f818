#include "analyzer/CorrectionPlan.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

AudioAnalysisResult scores(double w, double c, double d, double s, double mid, double side,
                           AudioAnalysisResult::SpectralBalance balance = {0.08, 0.22, 0.2, 0.28, 0.22}) {
    AudioAnalysisResult result;
    result.warmth = w;
    result.clarity = c;
    result.dynamics = d;
    result.spaciousness = s;
    result.analysisDetails.midEnergyRatio = mid;
    result.analysisDetails.sideEnergyRatio = side;
    result.analysisDetails.spectralBalance = balance;
    result.analysisDetails.peakLevel = std::pow(10.0, -6.0 / 20.0);
    return result;
}

PreferenceStore freshStore(const std::string& name) { return PreferenceStore(configDirectory() / name); }

bool hasNote(const AnalyzerPlan& plan, const std::string& note) {
    const auto& notes = plan.report.notes;
    return std::find(notes.begin(), notes.end(), note) != notes.end();
}

const std::vector<float> flat(12, 5.0f);

} // namespace

TEST(SmoothGains, LevelsBandsTowardsTheirMeanAndSmooths) {
    EXPECT_EQ(smoothGains(flat), std::vector<float>(12, 0.0f));
    EXPECT_EQ(smoothGains({1, 2, 3}), std::vector<float>(12, 0.0f));

    // One inner dip of −10: raw +4 (clamped) there, −1 elsewhere; smoothed 1.5, neighbours 0.25.
    std::vector<float> dip(12, 0.0f);
    dip[5] = -10.0f;
    const auto gains = smoothGains(dip);
    for (size_t i = 0; i < 12; ++i) {
        const float expected = i == 5 ? 1.5f : (i == 4 || i == 6) ? 0.25f : -1.0f;
        EXPECT_NEAR(gains[i], expected, 1e-5) << "band " << i;
    }
}

TEST(MakePlan, AFullyScoredSongIsOnlyTrimmedWhereItStandsOut) {
    // Every score at 1: nothing is missing, so nothing is boosted; warmth, clarity and space stand
    // out beyond the balance target (5/6) and are trimmed a little.
    const auto store = freshStore("balanced.json");
    const auto plan = makePlan(scores(1, 1, 1, 1, 0.8, 0.2), flat, -8.0f, 0.5f, 0.1f, store);
    const auto& r = plan.report;
    EXPECT_EQ(r.warmthDeficitPercent, 0);
    EXPECT_EQ(r.clarityDeficitPercent, 0);
    EXPECT_EQ(r.sideDeficitPercent, 0);
    EXPECT_EQ(r.warmthBoostDB, 0.0f);
    EXPECT_EQ(r.clarityBoostDB, 0.0f);
    EXPECT_NEAR(r.balanceTarget, 5.0 / 6.0, 1e-6);
    EXPECT_NEAR(r.spaceExcess, 1.0 / 6.0, 1e-6);
    EXPECT_NEAR(r.sideGainDB, -1.0, 1e-5); // the space is narrowed, not widened
    EXPECT_NEAR(r.lowMidCutDB, 1.0 / 3.0, 1e-5);
    EXPECT_EQ(plan.wetDryMix, 0.55f);      // the gentlest blend
    EXPECT_EQ(plan.preGainDB, -7.0f);

    // Only cuts, only in the middle of the spectrum; the bass and the air are left alone.
    ASSERT_EQ(plan.eqSettings.bands.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const float gain = plan.eqSettings.bands[i].gain;
        EXPECT_LE(gain, 0.0f) << "band " << i;
        if (i < 3 || i > 8) EXPECT_EQ(gain, 0.0f) << "band " << i;
        EXPECT_EQ(plan.eqSettings.bands[i].frequency, planBandFrequencies[i]);
        EXPECT_EQ(plan.eqSettings.bands[i].q, planBandQs[i]);
    }
    EXPECT_LT(plan.eqSettings.bands[4].gain, 0.0f);
    EXPECT_LT(plan.eqSettings.bands[7].gain, 0.0f);
    EXPECT_TRUE(plan.eqSettings.isEnabled);
    EXPECT_FALSE(plan.eqSettings.isAutoReferenceMode);

    // No stored target: −8 LUFS. Peak −6 dBFS: far from full scale, so the lowest threshold.
    EXPECT_EQ(plan.settings.targetLUFS, -8.0f);
    EXPECT_EQ(plan.settings.limitThreshold, -2.0f);
    EXPECT_EQ(r.notes, (std::vector<std::string>{"True-peak safety margin", "Pre-gain applied", "Identity preserved",
                                                 "Wet/Dry blend active", "Balance cuts applied"}));
    EXPECT_EQ(r.inputLUFS, -8.0f);
    EXPECT_EQ(r.bandValues, flat);
    EXPECT_EQ(r.bandGains, std::vector<float>(12, 0.0f));
}

TEST(MakePlan, ABrightThinSongGetsBassAndLosesEdge) {
    // Little warmth, sharp clarity, a loud upper mid and hardly any bass.
    const auto store = freshStore("bright.json");
    const auto plan = makePlan(scores(0.4, 1.0, 0.8, 0.7, 0.8, 0.2, {0.02, 0.1, 0.15, 0.3, 0.4}), flat, -8.0f, 0.5f,
                               0.1f, store);
    const auto& bands = plan.eqSettings.bands;
    for (size_t i = 0; i < 3; ++i) EXPECT_GT(bands[i].gain, 1.0f) << "band " << i;
    EXPECT_LT(bands[7].gain, 0.0f);
    EXPECT_LT(bands[8].gain, 0.0f);
    EXPECT_GT(plan.report.warmthBoostDB, 0.0f);
    EXPECT_EQ(plan.report.clarityBoostDB, 0.0f);
}

TEST(MakePlan, ADullSongGetsPresenceAndAirWithinTheirLimits) {
    // Clear enough in the bass, but muffled: low clarity and almost no upper mid.
    const auto store = freshStore("dull.json");
    const auto plan = makePlan(scores(1.0, 0.3, 0.8, 0.7, 0.8, 0.2, {0.08, 0.22, 0.2, 0.28, 0.05}), flat, -8.0f, 0.5f,
                               0.1f, store);
    const auto& bands = plan.eqSettings.bands;
    for (size_t i = 6; i < 10; ++i) EXPECT_GT(bands[i].gain, 1.0f) << "band " << i;
    EXPECT_LE(bands[8].gain, 2.0f);
    EXPECT_LE(bands[9].gain, 1.5f);
    EXPECT_GT(bands[7].gain, bands[2].gain);
    for (size_t i = 0; i < 3; ++i) EXPECT_LE(bands[i].gain, 0.5f) << "band " << i;

    // The duller the song, the more presence it gets.
    const auto duller = makePlan(scores(1.0, 0.1, 0.8, 0.7, 0.8, 0.2, {0.08, 0.22, 0.2, 0.28, 0.05}), flat, -8.0f,
                                 0.5f, 0.1f, store);
    EXPECT_GT(duller.eqSettings.bands[6].gain, bands[6].gain);
}

TEST(MakePlan, SignificantEqualisationIsNotedFromTheSmoothedGains) {
    const auto store = freshStore("eq.json");
    std::vector<float> dip(12, 0.0f);
    dip[5] = -10.0f;
    EXPECT_FALSE(hasNote(makePlan(scores(1, 1, 1, 1, 0.8, 0.2), dip, -8, 0.5f, 0.1f, store),
                         "EQ corrections are significant"));
    std::vector<float> wideDip(12, 0.0f);
    wideDip[4] = wideDip[5] = wideDip[6] = -10.0f; // smoothed gain 4 at band 5
    const auto plan = makePlan(scores(1, 1, 1, 1, 0.8, 0.2), wideDip, -8, 0.5f, 0.1f, store);
    EXPECT_TRUE(hasNote(plan, "EQ corrections are significant"));
    EXPECT_NEAR(plan.report.bandGains[5], 4.0f, 1e-6);
}

TEST(MakePlan, LimiterThresholdFollowsThePeak) {
    const auto store = freshStore("peak.json");
    // Scores at 0.7 keep the side gain at 0; D = 0.8 leaves the threshold alone.
    auto atFullScale = scores(0.7, 0.7, 0.8, 0.7, 0.8, 0.2);
    atFullScale.analysisDetails.peakLevel = 1.0;
    const auto plan = makePlan(atFullScale, flat, -8, 1.0f, 0.3f, store);
    EXPECT_EQ(plan.sideGainDB, 0.0f);
    EXPECT_NEAR(plan.settings.limitThreshold, -1.1f, 1e-6);
    EXPECT_TRUE(hasNote(plan, "Peak close to 0 dBFS"));
    EXPECT_TRUE(hasNote(plan, "True-peak safety margin"));

    // Low dynamics raise the threshold to −1.0, still a safety margin.
    auto flatDynamics = atFullScale;
    flatDynamics.dynamics = 0.7;
    const auto squashed = makePlan(flatDynamics, flat, -8, 1.0f, 0.3f, store);
    EXPECT_EQ(squashed.settings.limitThreshold, -1.0f);
    EXPECT_TRUE(hasNote(squashed, "True-peak safety margin"));

    // A measured true peak above the mono peak takes over; a peak at −0.3 dBFS stays at −0.8 after the margin.
    auto measured = scores(0.7, 0.7, 0.8, 0.7, 0.8, 0.2);
    measured.analysisDetails.truePeakDB = 0.5;
    EXPECT_EQ(makePlan(measured, flat, -8, 0.5f, 0.1f, store).settings.limitThreshold, -0.8f);

    // A silent result (no peak at all) falls to the lowest threshold.
    auto silent = scores(0.7, 0.7, 0.8, 0.7, 0.8, 0.2);
    silent.analysisDetails.peakLevel = 0.0;
    EXPECT_EQ(makePlan(silent, flat, -8, 0.0f, 0.0f, store).settings.limitThreshold, -2.0f);
}

TEST(MakePlan, TargetComesFromTheStoredPreference) {
    auto store = freshStore("target.json");
    store.setFloat("targetLoudness", -14.0f);
    PreferenceStore reread(store.filePath());
    const auto plan = makePlan(scores(1, 1, 1, 1, 0.8, 0.2), flat, -9.0f, 0.5f, 0.1f, reread);
    EXPECT_EQ(plan.settings.targetLUFS, -14.0f);
    EXPECT_EQ(plan.report.targetLUFS, -14.0f);
    EXPECT_EQ(plan.report.notes.front(), "Loudness shift needed");

    store.setString("targetLoudness", "loud");
    EXPECT_EQ(makePlan(scores(1, 1, 1, 1, 0.8, 0.2), flat, -9.0f, 0.5f, 0.1f, store).settings.targetLUFS, -8.0f);
}

TEST(MakePlan, WeakScoresBoostWithinTheBandLimits) {
    const auto store = freshStore("limits.json");
    std::vector<float> dull(12, 8.0f);
    dull[8] = dull[9] = dull[10] = dull[11] = 0.0f;
    for (const auto& balance : {AudioAnalysisResult::SpectralBalance{0, 0, 0, 0, 0},
                                AudioAnalysisResult::SpectralBalance{0.5, 0.3, 0.1, 0.1, 0.0}}) {
        const auto plan = makePlan(scores(0, 0, 0, 0, 0.5, 0.0, balance), dull, -20, 0.2f, 0.05f, store);
        const auto& bands = plan.eqSettings.bands;
        EXPECT_LE(bands[8].gain, 2.0f);
        EXPECT_LE(bands[9].gain, 1.5f);
        EXPECT_EQ(bands[10].gain, 0.0f);
        EXPECT_EQ(bands[11].gain, 0.0f);
        for (const auto& band : bands) {
            EXPECT_LE(std::fabs(band.gain), 6.0f);
        }
        EXPECT_EQ(plan.report.warmthDeficitPercent, 100);
        EXPECT_EQ(plan.report.sideDeficitPercent, 100);
        EXPECT_EQ(plan.wetDryMix, 0.75f);
        EXPECT_FALSE(hasNote(plan, "Identity preserved")); // σ = 0.85
        EXPECT_TRUE(hasNote(plan, "Side widening active"));
        EXPECT_FALSE(hasNote(plan, "Balance cuts applied"));
    }
}
