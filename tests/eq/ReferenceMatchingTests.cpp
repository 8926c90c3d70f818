#include "eq/MatchStrength.h"
#include "eq/EQFilter.h"
#include "eq/ReferenceMatching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace orvanta {
namespace {

// Level vectors that vary from band to band, as real spectra do.
BandLevels levelsFrom(uint32_t seed, float base) {
    BandLevels levels{};
    for (float& level : levels) {
        seed = seed * 1664525u + 1013904223u;
        level = base + float(seed >> 8) / float(1u << 24) * 3.0f;
    }
    return levels;
}

std::vector<float> gainsOf(const std::vector<EQBand>& bands) {
    std::vector<float> gains;
    for (const EQBand& band : bands) gains.push_back(band.gain);
    return gains;
}

TEST(MatchStrength, GentleIsExactlyTheClassicRule) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const BandLevels reference = levelsFrom(seed, 2.0f), file = levelsFrom(seed + 100, 4.0f);
        EXPECT_EQ(matchReferenceEQ(reference, file, gentleMatchStrength), matchReferenceEQ(reference, file));
        EXPECT_EQ(matchReferenceEQ(reference, file, 14.29f), matchReferenceEQ(reference, file)) << "typed by hand";
        const EQSettings settings = matchedEQSettings(reference, file, gentleMatchStrength);
        EXPECT_EQ(settings, matchedEQSettings(reference, file));
        EXPECT_TRUE(settings.isAutoReferenceMode);
    }
}

TEST(MatchStrength, FullCorrectsTheWholeToneDifferenceWithoutLevelWithinSixDb) {
    const BandLevels file = levelsFrom(7, 3.0f);
    // The same tone 1.3 units (9.1 dB) louder: no tonal difference at any strength.
    BandLevels louder = file;
    for (float& level : louder) level += 1.3f;
    for (float strength : {0.0f, 50.0f, 100.0f})
        for (const EQBand& band : matchReferenceEQ(louder, file, strength)) EXPECT_NEAR(band.gain, 0.0f, 1e-5f);

    // Half a unit more at 1 kHz reads 3.5 dB above its neighbours; 2 units less at 125 Hz hits the limit.
    BandLevels shaped = louder;
    shaped[5] += 0.5f;
    shaped[2] -= 2.0f;
    shaped[10] += 3.0f;
    const std::vector<float> full = gainsOf(matchReferenceEQ(shaped, file, fullMatchStrength));
    EXPECT_NEAR(full[5] - full[4], 3.5f, 1e-4f);
    EXPECT_FLOAT_EQ(full[2], -matchBandLimitDb);
    EXPECT_EQ(full[10], 0.0f);
    EXPECT_EQ(full[11], 0.0f);
    // Without the limit the gains would sum to zero; the limited band leaves its excess out.
    EXPECT_GT(std::accumulate(full.begin(), full.end(), 0.0f), 0.0f);
    for (float gain : full) EXPECT_LE(std::fabs(gain), matchBandLimitDb);

    const std::vector<float> half = gainsOf(matchReferenceEQ(shaped, file, mediumMatchStrength));
    for (size_t i = 0; i < full.size(); ++i) EXPECT_FLOAT_EQ(half[i], full[i] * 0.5f);
    const EQSettings none = matchedEQSettings(shaped, file, 0.0f);
    EXPECT_FALSE(hasActiveEQ(none));
    for (const EQBand& band : none.bands) EXPECT_FALSE(std::signbit(band.gain)) << "no -0 in the curve";
}

TEST(MatchStrength, BandsClippedAtTheSameEndOfTheScaleAreLeftOut) {
    BandLevels file = levelsFrom(9, 3.0f), reference = file;
    file[1] = reference[1] = levelScaleTop;  // loud bass on both sides: the difference is hidden
    file[0] = reference[0] = 0.0f;           // silent on both sides
    reference[5] += 1.0f;
    const std::vector<float> full = gainsOf(matchReferenceEQ(reference, file, fullMatchStrength));
    EXPECT_EQ(full[0], 0.0f);
    EXPECT_EQ(full[1], 0.0f);
    // The mean runs over the eight measured bands: 7 dB at 1 kHz is 7/8 of it above the mean.
    EXPECT_NEAR(full[5], 6.0f, 1e-5f) << "7 − 7/8 dB, limited to 6";
    EXPECT_NEAR(full[4], -7.0f / 8.0f, 1e-5f);
}

TEST(MatchStrength, ValuesNamesAndLabels) {
    EXPECT_TRUE(isValidMatchStrength(0.0f));
    EXPECT_TRUE(isValidMatchStrength(100.0f));
    EXPECT_FALSE(isValidMatchStrength(-0.5f));
    EXPECT_FALSE(isValidMatchStrength(100.5f));
    EXPECT_FALSE(isValidMatchStrength(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_NEAR(gentleMatchStrength, 14.2857f, 1e-3f);
    EXPECT_EQ(matchStrengthNamed("full"), 100.0f);
    EXPECT_EQ(matchStrengthNamed("GENTLE"), gentleMatchStrength);
    EXPECT_FALSE(matchStrengthNamed("loud"));
    EXPECT_EQ(matchStrengthLabel(gentleMatchStrength), "Gentle");
    EXPECT_EQ(matchStrengthLabel(50.0f), "Medium");
    EXPECT_EQ(matchStrengthLabel(30.0f), "30 %");
}

} // namespace
} // namespace orvanta
