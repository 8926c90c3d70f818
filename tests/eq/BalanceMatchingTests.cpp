// Matching a song's tonal balance to a reference, through real files: the measure, the correction and
// the fitted EQ against answers known in advance.
#include "eq/BalanceMatching.h"
#include "eq/EQFilter.h"
#include "eq/EQResponse.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceMatching.h"
#include "eq/TonalBalance.h"

#include "support/CookbookBiquad.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using test::Channels;
using test::scratchPath;

constexpr double rate = 44100.0;

using Shape = test::CookbookBiquad;

// Noise with a pink-ish slope and a little of the test song's music on top: content in every band.
fs::path writeSong(const std::string& name, double gain = 1.0, const std::vector<Shape>& shapes = {}) {
    const fs::path music = test::writeMusic(scratchPath(name + "-music.wav"), 12.0, -12.0, 4);
    Channels channels = test::readWithSndfile(music);
    const Shape pinkish = Shape::shelf(400.0, 9.0, false, rate);
    for (size_t c = 0; c < channels.size(); ++c) {
        std::vector<float> noise = test::whiteNoise(0.05, channels[c].size(), uint32_t(11 + c));
        pinkish.run(noise);
        for (size_t i = 0; i < noise.size(); ++i) channels[c][i] = float(gain) * (channels[c][i] + noise[i]);
        for (const Shape& shape : shapes) shape.run(channels[c]);
    }
    const fs::path path = scratchPath(name + ".wav");
    test::writeWav(path, channels, rate);
    return path;
}

std::vector<float> gainsOf(const EQSettings& settings) {
    std::vector<float> gains;
    for (const EQBand& band : settings.bands) gains.push_back(band.gain);
    return gains;
}

EQSettings matched(const fs::path& reference, const fs::path& song, float strength = fullMatchStrength) {
    return balanceMatchedEQ(measureTonalBalance(reference), measureTonalBalance(song), strength, rate);
}

TEST(TonalBalance, ASineLandsInItsBandAndSilenceHasNoContent) {
    const fs::path tone = scratchPath("tone.wav");
    test::writeWav(tone, {test::sine(1000.0, 0.5, rate, size_t(rate * 3))}, rate);
    const TonalBalance balance = measureTonalBalance(tone);
    ASSERT_EQ(balance.levelsDb.size(), balanceBandCount);
    size_t loudest = 0;
    for (size_t k = 0; k < balanceBandCount; ++k)
        if (balance.hasContent(k) && (!balance.hasContent(loudest) || balance.levelsDb[k] > balance.levelsDb[loudest]))
            loudest = k;
    EXPECT_DOUBLE_EQ(balanceBandCentreHz(loudest), 1000.0);
    // The window's leakage lies far under the tone: bands away from it hold no content.
    EXPECT_FALSE(balance.hasContent(0));

    const fs::path silent = scratchPath("silent.wav");
    test::writeWav(silent, test::replicate(test::silence(size_t(rate * 3)), 2), rate);
    EXPECT_EQ(measureTonalBalance(silent).contentBandCount(), 0u);
}

TEST(BalanceMatching, ASongMatchedToItselfOrToItsMonoMixStaysFlat) {
    const fs::path song = writeSong("song");
    // The same song 12 dB quieter, and as one channel (the mean of both): the same balance.
    const fs::path quieter = writeSong("quieter", 0.25);
    // A stereo song whose channels carry the same sound, and that sound as a mono file.
    Channels channels = test::readWithSndfile(song);
    channels[1] = channels[0];
    const fs::path twin = scratchPath("twin.wav"), monoPath = scratchPath("mono.wav");
    test::writeWav(twin, channels, rate);
    test::writeWav(monoPath, {channels[0]}, rate);

    for (const fs::path& reference : {song, quieter}) {
        const EQSettings self = matched(reference, song);
        for (size_t i = 0; i < self.bands.size(); ++i) EXPECT_NEAR(self.bands[i].gain, 0.0f, 0.2f) << "band " << i;
    }
    const EQSettings fromMono = matched(monoPath, twin);
    for (size_t i = 0; i < fromMono.bands.size(); ++i) EXPECT_NEAR(fromMono.bands[i].gain, 0.0f, 0.2f) << "band " << i;
}

TEST(BalanceMatching, AKnownSmoothEqIsRecoveredAtFull) {
    struct Case {
        const char* name;
        std::vector<Shape> shapes;
    };
    const std::vector<Case> cases = {
        {"tilt", {Shape::shelf(250.0, -3.0, false, rate), Shape::shelf(3000.0, 3.0, true, rate)}},
        {"bass shelf", {Shape::shelf(120.0, 4.0, false, rate)}},
        {"presence bump", {Shape::peaking(3000.0, 4.0, 0.8, rate)}},
    };
    const fs::path song = writeSong("plain");
    const TonalBalance songBalance = measureTonalBalance(song);
    for (const Case& shaped : cases) {
        const fs::path reference = writeSong(shaped.name, 1.0, shaped.shapes);
        const EQSettings eq = balanceMatchedEQ(measureTonalBalance(reference), songBalance, fullMatchStrength, rate);
        // The known curve and the fitted EQ's response at the 32 Hz … 12 kHz centres, levels aligned.
        std::vector<double> known, fitted;
        double meanKnown = 0.0, meanFitted = 0.0;
        for (size_t i = 0; i < matchedBandCount; ++i) {
            const double f = bandCenterFrequencies[i];
            double k = 0.0;
            for (const Shape& shape : shaped.shapes) k += shape.responseDb(f);
            known.push_back(k);
            fitted.push_back(eqResponseDb(eq, f, rate));
            meanKnown += known.back() / double(matchedBandCount);
            meanFitted += fitted.back() / double(matchedBandCount);
        }
        for (size_t i = 0; i < matchedBandCount; ++i)
            EXPECT_NEAR(fitted[i] - meanFitted, known[i] - meanKnown, 1.0)
                << shaped.name << " at " << bandCenterFrequencies[i] << " Hz";
        EXPECT_LE(largestGainStepDb(eq.bands), 4.0) << shaped.name;

        // Strengths scale the correction: Medium about half of Full.
        const EQSettings medium = balanceMatchedEQ(measureTonalBalance(reference), songBalance, mediumMatchStrength, rate);
        for (size_t i = 0; i < matchedBandCount; ++i)
            EXPECT_NEAR(medium.bands[i].gain, 0.5f * eq.bands[i].gain, 0.3f) << shaped.name << " band " << i;
    }
}

// A windowed-sinc low-pass at 16 kHz (255 taps, Blackman): a lossy codec's brick wall.
void lowPassAt16k(std::vector<float>& samples) {
    constexpr int taps = 255, half = taps / 2;
    const double cutoff = 16200.0 / rate;
    std::vector<double> kernel(taps);
    double sum = 0.0;
    for (int n = 0; n < taps; ++n) {
        const double m = n - half;
        const double sinc = m == 0 ? 2.0 * cutoff : std::sin(2.0 * std::numbers::pi * cutoff * m) / (std::numbers::pi * m);
        const double w = 0.42 - 0.5 * std::cos(2.0 * std::numbers::pi * n / (taps - 1)) +
                         0.08 * std::cos(4.0 * std::numbers::pi * n / (taps - 1));
        kernel[size_t(n)] = sinc * w;
        sum += kernel[size_t(n)];
    }
    const std::vector<float> input = samples;
    for (size_t i = 0; i < samples.size(); ++i) {
        double y = 0.0;
        for (int n = 0; n < taps; ++n) {
            const long j = long(i) + half - n;
            if (j >= 0 && j < long(input.size())) y += kernel[size_t(n)] * input[size_t(j)];
        }
        samples[i] = float(y / sum);
    }
}

TEST(BalanceMatching, AReferenceCutAt16kHzDoesNotPullTheTopDown) {
    const fs::path song = writeSong("full-range");
    Channels channels = test::readWithSndfile(song);
    for (auto& channel : channels) lowPassAt16k(channel);
    const fs::path cut = scratchPath("cut.wav");
    test::writeWav(cut, channels, rate);

    const TonalBalance balance = measureTonalBalance(cut);
    EXPECT_FALSE(balance.hasContent(balanceBandCount - 1)) << "the 16 kHz band is cut off inside";
    EXPECT_TRUE(balance.hasContent(balanceBandCount - 2)) << "the 12.5 kHz band is whole";
    const EQSettings eq = matched(cut, song);
    EXPECT_GT(eq.bands[9].gain, -0.5f) << "12 kHz";
    for (size_t i = 0; i < eq.bands.size(); ++i) EXPECT_NEAR(eq.bands[i].gain, 0.0f, 0.3f) << "band " << i;
}

TEST(BalanceMatching, TheFittedCurveIsSmoothBoundedAndCentred) {
    // A correction that swings hard from band to band, and one far beyond the bounds.
    std::vector<float> swinging(balanceBandCount), steep(balanceBandCount);
    for (size_t k = 0; k < balanceBandCount; ++k) {
        swinging[k] = (k % 2 ? 8.0f : -8.0f);
        steep[k] = -20.0f + 40.0f * float(k) / float(balanceBandCount - 1);
    }
    for (const auto* correction : {&swinging, &steep}) {
        const std::vector<EQBand> bands = fitMatchedBands(*correction, rate);
        ASSERT_EQ(bands.size(), 12u);
        EXPECT_LE(largestGainStepDb(bands), 4.0);
        EXPECT_FALSE(hasGainZigZag(bands));
        double mean = 0.0;
        for (size_t i = 0; i < matchedBandCount; ++i) {
            EXPECT_LE(std::fabs(bands[i].gain), matchBandLimitDb);
            mean += bands[i].gain / double(matchedBandCount);
        }
        EXPECT_NEAR(mean, 0.0, 0.05);
        EXPECT_EQ(bands[10].gain, 0.0f);
        EXPECT_EQ(bands[11].gain, 0.0f);
    }
    const std::vector<float> steepGains = gainsOf(EQSettings{fitMatchedBands(steep, rate), true, 0.0f, true});
    EXPECT_LT(steepGains[0], -1.0f);
    EXPECT_GT(steepGains[8], 1.0f);

    // Nothing to compare: flat. At 22.05 kHz the 12 kHz band lies past the highest it may take.
    EXPECT_FALSE(hasActiveEQ(EQSettings{fitMatchedBands(std::vector<float>(balanceBandCount, NAN), rate), true, 0.0f, true}));
    EXPECT_EQ(fitMatchedBands(steep, 22050.0)[9].gain, 0.0f);
}

TEST(BalanceMatching, TheStepLimitBindsOnlyWhereTheCorrectionIsSteep) {
    // A cliff of 20 dB between 400 and 500 Hz: the fitted curve climbs it in steps of at most 4 dB and
    // still reaches the bounds away from it, rather than flattening as a whole.
    std::vector<float> cliff(balanceBandCount);
    for (size_t k = 0; k < balanceBandCount; ++k) cliff[k] = balanceBandCentreHz(k) < 450.0 ? -10.0f : 10.0f;
    const std::vector<EQBand> bands = fitMatchedBands(cliff, rate);
    EXPECT_LE(largestGainStepDb(bands), 4.0);
    EXPECT_FALSE(hasGainZigZag(bands));
    EXPECT_LT(bands[0].gain, -5.0f) << "32 Hz";
    EXPECT_LT(bands[1].gain, -5.0f) << "63 Hz";
    EXPECT_GT(bands[7].gain, 3.0f) << "4 kHz";
    EXPECT_GE(bands[6].gain - bands[2].gain, 10.0f) << "125 Hz to 2 kHz";

    // A correction that is itself the response of a gentle tilt (mean 0, steps of 0.4 dB) is a
    // smooth curve the limits never touch: the fit gives that tilt back.
    EQSettings tilt;
    tilt.bands = defaultBands();
    for (size_t i = 0; i < matchedBandCount; ++i) tilt.bands[i].gain = 0.4f * (float(i) - 4.5f);
    std::vector<float> response(balanceBandCount);
    for (size_t k = 0; k < balanceBandCount; ++k) response[k] = eqResponseDb(tilt, balanceBandCentreHz(k), rate);
    const std::vector<EQBand> fitted = fitMatchedBands(response, rate);
    for (size_t i = 0; i < matchedBandCount; ++i)
        EXPECT_NEAR(fitted[i].gain, tilt.bands[i].gain, 0.25f) << bandCenterFrequencies[i] << " Hz";
}

} // namespace
} // namespace orvanta
