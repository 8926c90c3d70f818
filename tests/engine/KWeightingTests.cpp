#include "engine/KWeighting.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// |H(e^jω)| of both stages in dB at `hz`.
double responseDb(const KWeightingCoefficients& k, double sampleRate, double hz) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / sampleRate); // z⁻¹
    const auto section = [&z1](const BiquadCoefficients& c) {
        return (double(c.b0) + double(c.b1) * z1 + double(c.b2) * z1 * z1) /
               (1.0 + double(c.a1) * z1 + double(c.a2) * z1 * z1);
    };
    return 20.0 * std::log10(std::abs(section(k.highPass) * section(k.shelf)));
}

} // namespace

TEST(KWeighting, TheDesignReproducesTheStandardTableAt48kHz) {
    const KWeightingCoefficients table = kWeightingCoefficients(48000);
    const KWeightingCoefficients design = designKWeighting(48000);
    for (auto [t, d] : {std::pair{table.highPass, design.highPass}, std::pair{table.shelf, design.shelf}}) {
        EXPECT_NEAR(d.b0, t.b0, 2e-7);
        EXPECT_NEAR(d.b1, t.b1, 2e-7);
        EXPECT_NEAR(d.b2, t.b2, 2e-7);
        EXPECT_NEAR(d.a1, t.a1, 2e-7);
        EXPECT_NEAR(d.a2, t.a2, 2e-7);
    }
}

TEST(KWeighting, EveryRateHasTheSameResponseAsTheStandardAt48kHz) {
    // The curve: −∞ at DC, about −1 dB at 40 Hz, +0.7 dB at 1 kHz, +4 dB in the treble.
    const KWeightingCoefficients standard = kWeightingCoefficients(48000);
    EXPECT_NEAR(responseDb(standard, 48000, 1000), 0.69, 0.02);
    EXPECT_NEAR(responseDb(standard, 48000, 10000), 4.0, 0.1);
    // Within 0.05 dB from 20 Hz to 15 kHz at the common rates (far below them the shelf warps).
    for (double rate : {32000.0, 44100.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
        const KWeightingCoefficients k = kWeightingCoefficients(rate);
        for (double hz : {20.0, 40.0, 100.0, 500.0, 1000.0, 1500.0, 2000.0, 3000.0, 8000.0, 15000.0}) {
            if (hz > 0.4 * rate) continue;
            EXPECT_NEAR(responseDb(k, rate, hz), responseDb(standard, 48000, hz), 0.05) << rate << " Hz rate, " << hz;
        }
    }
}

TEST(KWeighting, BlocksAndPairsGiveTheSameSamplesAsOneSweep) {
    const auto left = whiteNoise(0.5, 10000, 1), right = whiteNoise(0.5, 10000, 2);
    KWeightingFilter whole(44100);
    std::vector<float> expected(left.size());
    whole.process(left.data(), expected.data(), left.size());

    // In uneven blocks, in place, and side by side with a second channel.
    KWeightingFilter inBlocks(44100), first(44100), second(44100);
    std::vector<float> blocks = left, paired(left.size()), other(right.size());
    for (size_t start = 0, size = 1; start < blocks.size(); start += size, size = size * 3 + 1) {
        const size_t n = std::min(size, blocks.size() - start);
        inBlocks.process(blocks.data() + start, blocks.data() + start, n);
        KWeightingFilter::processPair(first, left.data() + start, paired.data() + start, second,
                                      right.data() + start, other.data() + start, n);
    }
    EXPECT_EQ(blocks, expected);
    EXPECT_EQ(paired, expected);

    KWeightingFilter alone(44100);
    std::vector<float> rightAlone(right.size());
    alone.process(right.data(), rightAlone.data(), right.size());
    EXPECT_EQ(other, rightAlone);
}
