#include "eq/MatchStrength.h"
#include "eq/MatchedEQRefinement.h"
#include "eq/EQFilter.h"
#include "eq/ReferenceMatching.h"

#include "engine/ProcessingErrors.h"
#include "platform/Error.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace orvanta {
namespace {

using test::scratchPath;

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
    // No file is read at the default: the classic EQ comes out unrefined.
    const BandLevels reference = levelsFrom(3, 2.0f), file = levelsFrom(4, 4.0f);
    EXPECT_EQ(referenceMatchedEQ(scratchPath("absent.wav"), reference, file, gentleMatchStrength, nullptr),
              matchedEQSettings(reference, file));
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

// The measured change of each band from `file` after `eq`, minus the intended gains, the overall
// level aside: RMS over the bands both measurements can see, dB.
double shortfallDb(const std::filesystem::path& file, const EQSettings& eq, const EQSettings& intended) {
    const BandLevels before = compute12BandSpectrum(file);
    EQFilterBank bank;
    const BandLevels after = compute12BandSpectrum(file, [&](AudioBuffer& chunk) {
        bank.applyEQ(chunk, eq, true, false, float(chunk.sampleRate()));
    });
    std::vector<double> misses;
    for (size_t i = 0; i < matchedBandCount; ++i)
        if (before[i] > 0 && before[i] < 10 && after[i] > 0 && after[i] < 10)
            misses.push_back(double(after[i] - before[i]) * decibelsPerLevelUnit - intended.bands[i].gain);
    const double mean = std::accumulate(misses.begin(), misses.end(), 0.0) / double(misses.size());
    double sum = 0;
    for (double miss : misses) sum += (miss - mean) * (miss - mean);
    return std::sqrt(sum / double(misses.size()));
}

TEST(MatchedEQRefinement, TheRefinedCurveLandsCloserToTheIntendedOne) {
    const auto song = test::writeMusic(scratchPath("song.wav"), 20.0, -10.0, 5);
    // A tilt from dark to bright: neighbouring bands add up and overshoot it.
    EQSettings intended = defaultEQSettings();
    intended.isEnabled = true;
    for (size_t i = 0; i < matchedBandCount; ++i) intended.bands[i].gain = -4.5f + float(i);
    const EQSettings refined = refineMatchedEQ(song, intended, everyBand, nullptr);

    const double before = shortfallDb(song, intended, intended);
    const double after = shortfallDb(song, refined, intended);
    EXPECT_GT(before, 1.0) << "the overlap is real";
    EXPECT_LT(after, before * 0.5);
    for (const EQBand& band : refined.bands) EXPECT_LE(std::fabs(band.gain), matchBandLimitDb);
    EXPECT_EQ(refined.bands[10].gain, 0.0f);
    EXPECT_EQ(refined.bands[11].gain, 0.0f);
    EXPECT_TRUE(refined.isEnabled);

    int calls = 0;
    const auto cancelSoon = [&calls] { return ++calls > 1; };
    try {
        refineMatchedEQ(song, intended, everyBand, cancelSoon);
        ADD_FAILURE() << "a cancelled refinement must throw";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), engine_error::cancelled);
    }
}

// Three bass tones over white noise, `gain` times a loud original: the tones' band saturates the 0…10
// scale at gain 1 and does not at gain 0.1.
std::filesystem::path writeBassAndNoise(const std::string& name, float gain) {
    constexpr size_t frames = 44100 * 20;
    std::vector<float> signal = test::whiteNoise(0.05, frames, 9);
    for (double frequency : {52.0, 63.0, 76.0}) {
        const std::vector<float> tone = test::sine(frequency, 0.28, 44100.0, frames);
        for (size_t n = 0; n < frames; ++n) signal[n] += tone[n];
    }
    for (float& sample : signal) sample *= gain;
    const auto path = scratchPath(name);
    test::writeWav(path, test::replicate(signal, 2), 44100.0);
    return path;
}

TEST(MatchedEQRefinement, ALoudSongMatchedToTheSameToneQuieterStaysFlat) {
    // The same sound 20 dB apart: no tonal difference. Clamped at the scale's top, the loud copy's
    // bass would read as no louder than the reference's and get a boost at full strength.
    const auto song = writeBassAndNoise("loud.wav", 1.0f), quiet = writeBassAndNoise("quiet.wav", 0.1f);
    const BandLevels songLevels = compute12BandSpectrum(song), quietLevels = compute12BandSpectrum(quiet);
    ASSERT_GE(songLevels[1], levelScaleTop) << "the loud copy's bass saturates the scale";
    ASSERT_LT(quietLevels[1], levelScaleTop);
    const EQSettings matched = referenceMatchedEQ(song, quietLevels, songLevels, fullMatchStrength, nullptr);
    for (size_t i = 0; i < matched.bands.size(); ++i) EXPECT_NEAR(matched.bands[i].gain, 0.0f, 0.5f) << "band " << i;
}

TEST(MatchedEQRefinement, NothingToMeasureOrAboveNyquistStaysFlat) {
    EQSettings intended = defaultEQSettings();
    intended.isEnabled = true;
    for (size_t i = 0; i < matchedBandCount; ++i) intended.bands[i].gain = (i % 2 ? 3.0f : -3.0f);

    // Silence: every level sits at the floor, so no gain can be steered.
    const auto silent = scratchPath("silence.wav");
    test::writeWav(silent, test::replicate(test::silence(44100 * 12), 2), 44100.0);
    EXPECT_EQ(refineMatchedEQ(silent, intended, everyBand, nullptr), intended);

    // At 22.05 kHz the 12 kHz band lies beyond Nyquist: flat, and the render stays finite.
    const auto low = test::writeMusic(scratchPath("low.wav"), 12.0, -10.0, 2, 22050.0);
    const EQSettings refined = refineMatchedEQ(low, intended, everyBand, nullptr);
    EXPECT_EQ(refined.bands[9].gain, 0.0f);
    EQFilterBank bank;
    const BandLevels rendered = compute12BandSpectrum(low, [&](AudioBuffer& chunk) {
        bank.applyEQ(chunk, refined, true, false, float(chunk.sampleRate()));
    });
    for (float level : rendered) EXPECT_TRUE(std::isfinite(level));
    EXPECT_GT(rendered[5], 0.0f);
}

} // namespace
} // namespace orvanta
