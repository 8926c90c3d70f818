#include "eq/ReferenceSpectrum.h"
#include "engine/LoudnessMeter.h"
#include "eq/TonalBalance.h"

#include "platform/Error.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace orvanta {
namespace {

using test::scratchPath;
using test::sine;
using test::writeWav;

TEST(ReferenceMatching, GainsAreLevelDifferencesWithTopBandsFlat) {
    BandLevels same{};
    same.fill(4.0f);
    for (const auto& band : matchReferenceEQ(same, same)) EXPECT_EQ(band.gain, 0.0f);

    BandLevels reference = same;
    reference[5] += 1.5f; // 1 kHz
    reference[10] = 9.0f;
    reference[11] = 0.0f;
    const EQSettings settings = matchedEQSettings(reference, same);
    ASSERT_EQ(settings.bands.size(), 12u);
    EXPECT_FLOAT_EQ(settings.bands[5].gain, 1.5f);
    EXPECT_EQ(settings.bands[5].frequency, 1000.0f);
    EXPECT_EQ(settings.bands[10].gain, 0.0f);
    EXPECT_EQ(settings.bands[11].gain, 0.0f);
    EXPECT_TRUE(settings.isEnabled);
    EXPECT_TRUE(settings.isAutoReferenceMode);
    EXPECT_EQ(settings.masterGain, 0.0f);
}

TEST(SpectralProfileJson, RoundTripsAndRequiresEveryKey) {
    SpectralProfile profile;
    profile.frequencies = {20.0f, 1000.0f};
    profile.magnitudes = {-12.5f, 3.25f};
    profile.referenceFileName = "Referință.wav";
    profile.dateCreated = 786000000.5;
    profile.spectrum12Band = std::vector<float>(12, 2.5f);
    const std::string json = encodeSpectralProfile(profile);
    EXPECT_EQ(decodeSpectralProfile(json), profile);

    for (const char* key : {"frequencies", "magnitudes", "referenceFileName", "dateCreated", "spectrum12Band"}) {
        auto object = nlohmann::json::parse(json);
        object.erase(key);
        EXPECT_FALSE(decodeSpectralProfile(object.dump())) << key;
    }
    EXPECT_FALSE(decodeSpectralProfile("not json"));
    EXPECT_FALSE(decodeSpectralProfile(json)->tonalBalance) << "a profile stored before the balance";
}

TEST(SpectralProfileJson, KeepsTheBalanceWithItsEmptyBands) {
    SpectralProfile profile;
    profile.frequencies = {20.0f};
    profile.magnitudes = {-12.5f};
    profile.referenceFileName = "ref.flac";
    profile.spectrum12Band = std::vector<float>(12, 2.5f);
    TonalBalance balance;
    for (size_t k = 0; k < balanceBandCount; ++k) balance.levelsDb.push_back(k == 0 || k == 28 ? NAN : -30.0f + float(k));
    profile.tonalBalance = balance;
    const std::string json = encodeSpectralProfile(profile);
    const auto decoded = decodeSpectralProfile(json);
    ASSERT_TRUE(decoded && decoded->tonalBalance);
    EXPECT_EQ(*decoded, profile);
    EXPECT_FALSE(decoded->tonalBalance->hasContent(0));
    EXPECT_EQ(decoded->tonalBalance->contentBandCount(), balanceBandCount - 2);

    // A balance of another length or with text in it is no balance; the rest of the profile still loads.
    for (const nlohmann::json& stored : {nlohmann::json::array({1.0, 2.0}), nlohmann::json("loud")}) {
        auto object = nlohmann::json::parse(json);
        object["tonalBalance"] = stored;
        const auto other = decodeSpectralProfile(object.dump());
        ASSERT_TRUE(other);
        EXPECT_FALSE(other->tonalBalance);
    }
    EXPECT_GT(secondsSinceReferenceDate(), 7.5e8); // after 2024
}

TEST(ReferenceAnalysis, SineLandsInItsBand) {
    const auto path = scratchPath("sine.wav");
    writeWav(path, {sine(1000.0, 0.5, 44100.0, 44100 * 3)}, 44100.0);
    const BandLevels levels = compute12BandSpectrum(path);
    const auto loudest = std::max_element(levels.begin(), levels.end()) - levels.begin();
    EXPECT_EQ(loudest, 5);
    EXPECT_GT(levels[5], 5.0f);

    const ReferenceAnalysis analysis = analyzeReferenceFile(path);
    ASSERT_EQ(analysis.profile.frequencies.size(), 100u);
    ASSERT_EQ(analysis.profile.magnitudes.size(), 100u);
    EXPECT_NEAR(analysis.profile.frequencies.front(), 20.0f, 0.01f);
    EXPECT_NEAR(analysis.profile.frequencies.back(), 20000.0f, 2.0f);
    EXPECT_EQ(analysis.profile.referenceFileName, "sine.wav");
    EXPECT_EQ(analysis.profile.spectrum12Band.size(), 12u);
    EXPECT_LT(analysis.lufs, 0.0f);
}

TEST(ReferenceAnalysis, ShortFilesAndShortLastChunks) {
    const auto shortPath = scratchPath("short.wav");
    writeWav(shortPath, {sine(1000.0, 0.5, 44100.0, 8000)}, 44100.0);
    for (float level : compute12BandSpectrum(shortPath)) EXPECT_EQ(level, 0.0f);
    const AudioBuffer shortBuffer = test::toBuffer({sine(1000.0, 0.5, 44100.0, 8000)}, 44100.0);
    for (float level : analyzeSpectrum(shortBuffer).levels) EXPECT_FLOAT_EQ(level, -200.0f);

    // 10 s plus 4000 frames: the second chunk adds zeros, halving the first chunk's levels.
    const auto longPath = scratchPath("long.wav");
    const auto tone = sine(1000.0, 0.5, 44100.0, 441000 + 4000);
    writeWav(longPath, {tone}, 44100.0);
    const BandLevels first =
        computeBandLevels(test::toBuffer({std::vector<float>(tone.begin(), tone.begin() + 441000)}, 44100.0));
    const BandLevels both = compute12BandSpectrum(longPath);
    for (size_t i = 0; i < 12; ++i) EXPECT_NEAR(both[i], first[i] / 2.0f, 1e-5f);

    // The reference analysis reads the file once for all its figures: the same as each measured alone.
    const ReferenceAnalysis analysis = analyzeReferenceFile(longPath);
    ASSERT_EQ(analysis.profile.spectrum12Band.size(), 12u);
    for (size_t i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(analysis.profile.spectrum12Band[i], both[i]) << "band " << i;
    ASSERT_TRUE(analysis.profile.tonalBalance);
    EXPECT_TRUE(*analysis.profile.tonalBalance == measureTonalBalance(longPath));
    EXPECT_FLOAT_EQ(analysis.lufs, analyzeAudioFile(longPath).lufs);
}

TEST(ReferenceAnalysis, LowRatesLeaveTopBandsAtZero) {
    const AudioBuffer buffer = test::toBuffer({test::whiteNoise(0.5, 22050 * 2)}, 22050.0);
    const BandLevels levels = computeBandLevels(buffer);
    EXPECT_EQ(levels[11], 0.0f);
    EXPECT_GT(levels[5], 0.0f);
    EXPECT_EQ(computeBandLevels(AudioBuffer()), BandLevels{});
}

} // namespace
} // namespace orvanta
