#include "eq/EQFilter.h"
#include "eq/EQSettings.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

EQSettings oneBand(float frequency, float gain) {
    EQSettings settings = defaultEQSettings();
    settings.isEnabled = true;
    settings.bands = {EQBand{frequency, gain, EQBandType::peaking, 1.0f}};
    return settings;
}

bool isZero(const FilterState& state) {
    return state.x1 == 0 && state.x2 == 0 && state.y1 == 0 && state.y2 == 0;
}

} // namespace

TEST(EQFilter, BandsAtOrBelowATenthOfADecibelNeitherFilterNorAdvance) {
    const Channels signal = replicate(sine(1000, 0.5, 44100, 4096), 2);
    for (float gain : {0.1f, -0.1f}) {
        EQFilterBank bank;
        AudioBuffer buffer = toBuffer(signal, 44100);
        bank.applyEQ(buffer, oneBand(1000, gain), false, false, 44100);
        EXPECT_EQ(fromBuffer(buffer), signal);
        EXPECT_TRUE(isZero(bank.bandState(0, 0)));
    }
    EQFilterBank bank;
    AudioBuffer buffer = toBuffer(signal, 44100);
    bank.applyEQ(buffer, oneBand(1000, 0.11f), false, false, 44100);
    EXPECT_NE(fromBuffer(buffer), signal);
    EXPECT_FALSE(isZero(bank.bandState(0, 0)));
    EXPECT_FALSE(hasActiveEQ(oneBand(1000, 0.1f)));
    EXPECT_TRUE(hasActiveEQ(oneBand(1000, 0.11f)));
}

TEST(EQFilter, HighCutNeedsTwelveBandsWithTheTopTwoCutByFive) {
    std::vector<EQBand> bands = defaultBands();
    bands[10].gain = -5.0f;
    bands[11].gain = -5.0f;
    EXPECT_TRUE(needsHighCut(bands));
    bands[11].gain = -4.99f;
    EXPECT_FALSE(needsHighCut(bands));
    bands.resize(11);
    EXPECT_FALSE(needsHighCut(bands));
}

TEST(EQFilter, APeakingBandBoostsItsCentreByItsGain) {
    EQFilterBank bank;
    const size_t frames = 44100;
    AudioBuffer buffer = toBuffer(replicate(sine(1000, 0.25, 44100, frames), 2), 44100);
    bank.applyEQ(buffer, oneBand(1000, 6.0f), false, false, 44100);
    const Channels out = fromBuffer(buffer);
    const std::vector<float> steady(out[0].begin() + frames / 2, out[0].end());
    EXPECT_NEAR(20.0 * std::log10(rmsOf(steady) / (0.25 / std::sqrt(2.0))), 6.0, 0.1);
}

TEST(EQFilter, ChunksWithPreservedStateEqualOnePassAndEmptyChunksChangeNothing) {
    const EQSettings settings = oneBand(250, -4.0f);
    const Channels signal = replicate(whiteNoise(0.3, 8192, 7), 2);

    EQFilterBank whole;
    AudioBuffer all = toBuffer(signal, 48000);
    whole.applyEQ(all, settings, false, false, 48000);

    EQFilterBank chunked;
    Channels first(2), second(2);
    for (size_t c = 0; c < 2; ++c) {
        first[c].assign(signal[c].begin(), signal[c].begin() + 3000);
        second[c].assign(signal[c].begin() + 3000, signal[c].end());
    }
    AudioBuffer a = toBuffer(first, 48000), b = toBuffer(second, 48000);
    chunked.applyEQ(a, settings, false, false, 48000);
    const FilterState before = chunked.bandState(0, 1);
    AudioBuffer empty = toBuffer(Channels{{}, {}}, 48000);
    chunked.applyEQ(empty, settings, true, false, 48000);
    const FilterState after = chunked.bandState(0, 1);
    EXPECT_EQ(before.y1, after.y1);
    EXPECT_EQ(before.x1, after.x1);
    chunked.applyEQ(b, settings, true, false, 48000);

    const Channels joined = fromBuffer(all), left = fromBuffer(a), right = fromBuffer(b);
    for (size_t c = 0; c < 2; ++c) {
        std::vector<float> concatenated = left[c];
        concatenated.insert(concatenated.end(), right[c].begin(), right[c].end());
        EXPECT_EQ(concatenated, joined[c]);
    }
}

TEST(EQSettings, EqualityIgnoresReferenceModeAndDecodingNeedsEveryKey) {
    EQSettings a = defaultEQSettings();
    EQSettings b = a;
    b.isAutoReferenceMode = true;
    EXPECT_EQ(a, b);
    const auto decoded = decodeEQSettings(encodeEQSettings(b));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->isAutoReferenceMode);
    std::string json = encodeEQSettings(b);
    const auto key = json.find("\"isAutoReferenceMode\"");
    ASSERT_NE(key, std::string::npos);
    json.replace(key, 21, "\"somethingElse\"");
    EXPECT_FALSE(decodeEQSettings(json).has_value());
}

TEST(EQFilter, EveryChannelKeepsItsOwnHistoryAndA28thBandIsIgnored) {
    // A signal in one channel only, at each position of a stereo and a 3-channel buffer: the others stay
    // silent, and the filtered channel reads the same wherever it sits.
    const std::vector<float> noise = whiteNoise(0.3, 2048, 3);
    std::vector<float> reference;
    for (uint32_t channels : {1u, 2u, 3u}) {
        for (uint32_t lit = 0; lit < channels; ++lit) {
            Channels signal(channels, silence(noise.size()));
            signal[lit] = noise;
            EQFilterBank bank;
            AudioBuffer buffer = toBuffer(signal, 44100);
            bank.applyEQ(buffer, oneBand(500, 5.0f), false, true, 44100);
            const Channels out = fromBuffer(buffer);
            if (reference.empty()) reference = out[0];
            for (uint32_t c = 0; c < channels; ++c) {
                if (c == lit) {
                    EXPECT_EQ(out[c], reference) << channels << " channels, channel " << c;
                } else {
                    EXPECT_EQ(peakOf(out[c]), 0.0) << channels << " channels, channel " << c;
                    EXPECT_TRUE(isZero(bank.bandState(0, c)));
                }
            }
        }
    }
    EXPECT_NE(reference, noise);

    const Channels signal = replicate(noise, 6);
    EQFilterBank bank;
    EQSettings many = defaultEQSettings();
    many.isEnabled = true;
    many.bands.assign(27, EQBand{1000, 0.0f, EQBandType::peaking, 1.0f});
    many.bands.push_back(EQBand{1000, 6.0f, EQBandType::peaking, 1.0f});
    AudioBuffer untouched = toBuffer(signal, 44100);
    bank.applyEQ(untouched, many, false, false, 44100);
    EXPECT_EQ(fromBuffer(untouched), signal);
}

namespace {

// Every default band boosted or cut by 6 dB in turn, the top two cut so that the high cut is asked
// for too.
EQSettings everyBandAtSixDb() {
    EQSettings settings = defaultEQSettings();
    settings.isEnabled = true;
    for (size_t i = 0; i < settings.bands.size(); ++i) settings.bands[i].gain = i % 2 == 0 ? 6.0f : -6.0f;
    settings.bands[10].gain = -6.0f;
    settings.bands[11].gain = -6.0f;
    return settings;
}

} // namespace

TEST(EQFilter, AtLowRatesEveryFilterThatRunsIsStable) {
    // An impulse through the whole curve: a stable cascade rings down; one filter at or past Nyquist
    // would grow without bound.
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0}) {
        const EQSettings settings = everyBandAtSixDb();
        ASSERT_TRUE(needsHighCut(settings.bands));
        std::vector<float> impulse(size_t(rate * 2), 0.0f);
        impulse[0] = 1.0f;
        EQFilterBank bank;
        AudioBuffer buffer = toBuffer(replicate(impulse, 2), rate);
        bank.applyEQ(buffer, settings, false, true, float(rate));
        const std::vector<float> response = fromBuffer(buffer)[0];
        for (float x : response) ASSERT_TRUE(std::isfinite(x)) << rate;
        EXPECT_LT(peakOf(response), 4.0) << rate;
        const std::vector<float> tail(response.end() - size_t(rate / 2), response.end());
        EXPECT_LT(peakOf(tail), 1e-6) << rate << " Hz: the response dies away";
    }
}

TEST(EQFilter, BandsAboveWhatTheRateCarriesAreLeftOutAndTheTwentyKilohertzBandStaysAt44k) {
    const Channels noise = replicate(whiteNoise(0.3, 4096, 5), 2);
    // 12 kHz at 22.05 kHz lies past Nyquist; 8 kHz at 16 kHz sits on it: neither filters.
    for (const auto& [frequency, rate] : {std::pair{12000.0f, 22050.0}, std::pair{8000.0f, 16000.0}}) {
        EQFilterBank bank;
        AudioBuffer buffer = toBuffer(noise, rate);
        bank.applyEQ(buffer, oneBand(frequency, 6.0f), false, false, float(rate));
        EXPECT_EQ(fromBuffer(buffer), noise) << frequency << " Hz at " << rate;
        EXPECT_TRUE(isZero(bank.bandState(0, 0)));
    }
    // The 18 kHz high cut has nothing to cut at 32 kHz.
    EQFilterBank highCutBank;
    AudioBuffer highCutBuffer = toBuffer(noise, 32000);
    highCutBank.applyEQ(highCutBuffer, oneBand(1000, 0.0f), false, true, 32000.0f);
    EXPECT_EQ(fromBuffer(highCutBuffer), noise);

    // A band with no width or an undefined gain is no filter either.
    for (const EQBand band : {EQBand{1000, 6.0f, EQBandType::peaking, 0.0f},
                              EQBand{1000, std::nanf(""), EQBandType::peaking, 1.0f}}) {
        EQSettings settings = oneBand(1000, 6.0f);
        settings.bands = {band};
        EQFilterBank bank;
        AudioBuffer buffer = toBuffer(noise, 44100);
        bank.applyEQ(buffer, settings, false, false, 44100.0f);
        EXPECT_EQ(fromBuffer(buffer), noise);
    }

    // At 44.1 kHz the 20 kHz band (0.454 × the rate) still boosts its centre.
    const size_t frames = 44100;
    EQFilterBank bank;
    AudioBuffer tone = toBuffer(replicate(sine(20000, 0.25, 44100, frames), 2), 44100);
    bank.applyEQ(tone, oneBand(20000, 6.0f), false, false, 44100.0f);
    const std::vector<float> out = fromBuffer(tone)[0];
    const std::vector<float> steady(out.begin() + frames / 2, out.end());
    EXPECT_NEAR(20.0 * std::log10(rmsOf(steady) / (0.25 / std::sqrt(2.0))), 6.0, 0.2);
}
