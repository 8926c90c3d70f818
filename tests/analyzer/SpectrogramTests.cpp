#include "analyzer/Spectrogram.h"
#include "analyzer/SpectrumAnalysis.h"
#include "platform/Error.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace orvanta;
using namespace orvanta::AudioAnalyzer;
using namespace orvanta::test;

namespace {

size_t columnsFor(size_t samples) {
    return analyzeSpectrum(whiteNoise(0.3, samples, 2), 44100).spectrogram.magnitudes.size();
}

} // namespace

TEST(SpectrogramDecimation, KeepsTheGridBounded) {
    EXPECT_EQ(spectrogramDecimation(4096), 1u);
    EXPECT_EQ(spectrogramDecimation(1048575), 1u);
    EXPECT_EQ(spectrogramDecimation(1048576), 1u);
    EXPECT_EQ(spectrogramDecimation(2097152), 2u);
    EXPECT_EQ(spectrogramDecimation(7938000), 7u);

    EXPECT_EQ(columnsFor(1048575), 510u);  // every frame
    EXPECT_EQ(columnsFor(2097152), 512u);  // 1023 frames, every second one
    EXPECT_EQ(columnsFor(7938000), 554u);  // three minutes at 44.1 kHz: 3874 frames, every 7th
}

TEST(AnalyzeSpectrum, OneFrameGivesOneColumnAtTimeZero) {
    const auto spectrum = analyzeSpectrum(whiteNoise(0.3, 4096, 4), 48000);
    const auto& grid = spectrum.spectrogram;
    EXPECT_EQ(grid.timeBins, std::vector<double>{0.0});
    ASSERT_EQ(grid.magnitudes.size(), 1u);
    EXPECT_EQ(grid.magnitudes[0].size(), 2048u);
    ASSERT_EQ(grid.frequencyBins.size(), 2048u);
    EXPECT_EQ(grid.frequencyBins[0], 0.0);
    EXPECT_DOUBLE_EQ(grid.frequencyBins[1], 48000.0 / 4096.0);
    EXPECT_DOUBLE_EQ(grid.frequencyBins[2047], 2047 * 48000.0 / 4096.0);
    EXPECT_EQ(grid.minDB, *std::min_element(grid.magnitudes[0].begin(), grid.magnitudes[0].end()));
    EXPECT_EQ(grid.maxDB, *std::max_element(grid.magnitudes[0].begin(), grid.magnitudes[0].end()));

    const auto& b = spectrum.balance;
    EXPECT_NEAR(b.subBass + b.bass + b.lowMid + b.mid + b.highMid, 1.0, 1e-9);
}

TEST(AnalyzeSpectrum, MagnitudesAreTheHalvedPackedTransform) {
    // A full-scale sine on bin 100 through the √(2/3)-Hann window: |X| = 2048·√(2/3), stored as |X| ÷ 1024.
    const double rate = 44100;
    const double frequency = 100 * rate / 4096;
    const auto spectrum = analyzeSpectrum(sine(frequency, 1.0, rate, 4096 * 4), rate);
    const auto& grid = spectrum.spectrogram;
    ASSERT_EQ(grid.magnitudes.size(), 7u);
    EXPECT_DOUBLE_EQ(grid.timeBins[1], 2048 / rate);
    const double expectedDB = 20.0 * std::log10(2.0 * std::sqrt(2.0 / 3.0));
    for (const auto& column : grid.magnitudes) {
        EXPECT_NEAR(column[100], expectedDB, 1e-3);
        EXPECT_NEAR(column[99], expectedDB - 20.0 * std::log10(2.0), 1e-3); // Hann main lobe: half
        EXPECT_LT(column[300], expectedDB - 100.0);
    }
    EXPECT_NEAR(grid.maxDB, expectedDB, 1e-3);
    // 1.08 kHz sits in the "mid" band (500–2000 Hz), shared boundary bins aside.
    EXPECT_GT(spectrum.balance.mid, 0.95);
}

TEST(AnalyzeSpectrum, ShortOrSilentSignalsGiveTheEmptySpectrogram) {
    const auto shortSignal = analyzeSpectrum(whiteNoise(0.5, 4095, 1), 44100);
    EXPECT_EQ(shortSignal.spectrogram, SpectrogramData::empty());
    EXPECT_EQ(shortSignal.balance, AudioAnalysisResult::SpectralBalance{});

    const auto silent = analyzeSpectrum(silence(44100), 44100);
    EXPECT_EQ(silent.spectrogram, SpectrogramData::empty());
    EXPECT_EQ(silent.spectrogram.minDB, -100.0f);
    EXPECT_EQ(silent.spectrogram.maxDB, 0.0f);
    EXPECT_EQ(silent.balance, AudioAnalysisResult::SpectralBalance{});
    EXPECT_TRUE(renderSpectrogramImage(silent.spectrogram).isEmpty());
}

TEST(AnalyzeSpectrum, BandBinsAndWeighting) {
    const auto bands = bandDefinitions(44100);
    EXPECT_EQ(bands[0].name, "subBass");
    EXPECT_EQ(bands[0].lowBin, 1);   // 20 Hz ÷ 10.77 Hz
    EXPECT_EQ(bands[0].highBin, 5);
    EXPECT_EQ(bands[1].lowBin, bands[0].highBin);
    EXPECT_EQ(bands[4].highBin, 371);
    // A tiny rate pushes the top band past the last bin.
    EXPECT_EQ(bandDefinitions(4000)[4].highBin, 2047);

    const auto weights = aWeightingTable(44100);
    EXPECT_EQ(weights[1], 0.0f); // 10.8 Hz: below 20 Hz
    // The 2 dB offset normalises the curve to 0 dB at 1 kHz.
    const size_t k1000 = size_t(std::lround(1000.0 / (44100.0 / 4096)));
    const double f = k1000 * 44100.0 / 4096;
    EXPECT_NEAR(20.0 * std::log10(weights[k1000]), 0.0, 0.05 + 0.001 * std::fabs(f - 1000));
    EXPECT_LT(weights[5], weights[k1000] * 0.1); // 54 Hz is strongly attenuated
}

TEST(AnalyzeSpectrum, ReportsProgressAndCancels) {
    std::vector<double> reported;
    analyzeSpectrum(whiteNoise(0.3, 2048 * 300, 1), 44100, [&reported](double f) { reported.push_back(f); });
    ASSERT_EQ(reported.size(), 5u); // frames 50, 100, …, 250 of 299
    EXPECT_NEAR(reported[0], 50.0 / 298.0, 1e-12);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));

    EXPECT_THROW(analyzeSpectrum(whiteNoise(0.3, 2048 * 300, 1), 44100, {}, [] { return true; }), Error);
}

TEST(SpectrogramColour, BoundariesBelongToTheUpperColour) {
    EXPECT_EQ(spectrogramColour(-0.5f), (Rgb{13, 0, 38}));
    EXPECT_EQ(spectrogramColour(0.0f), (Rgb{13, 0, 38}));
    EXPECT_EQ(spectrogramColour(0.1499f), (Rgb{13, 0, 38}));
    EXPECT_EQ(spectrogramColour(0.15f), (Rgb{38, 0, 77}));
    EXPECT_EQ(spectrogramColour(0.3f), (Rgb{77, 0, 128}));
    EXPECT_EQ(spectrogramColour(0.45f), (Rgb{128, 0, 153}));
    EXPECT_EQ(spectrogramColour(0.6f), (Rgb{204, 0, 77}));
    EXPECT_EQ(spectrogramColour(0.75f), (Rgb{255, 51, 0}));
    EXPECT_EQ(spectrogramColour(0.85f), (Rgb{255, 140, 0}));
    EXPECT_EQ(spectrogramColour(0.92f), (Rgb{255, 220, 0}));
    EXPECT_EQ(spectrogramColour(0.9699f), (Rgb{255, 220, 0}));
    EXPECT_EQ(spectrogramColour(0.97f), (Rgb{255, 255, 100}));
    EXPECT_EQ(spectrogramColour(1.0f), (Rgb{255, 255, 100}));
}

TEST(RenderSpectrogramImage, ColumnsInTimeLowFrequenciesAtTheBottom) {
    SpectrogramData data;
    data.timeBins = {0.0, 0.05, 0.1};
    data.frequencyBins = {0, 10, 20, 30};
    data.magnitudes = {{-100, -85, -70, 0}, {-100, -100, -100, -100}};
    data.minDB = -100;
    data.maxDB = 0;
    const auto image = renderSpectrogramImage(data);
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 4);
    ASSERT_EQ(image.rgba.size(), 3u * 4u * 4u);
    // Bin 0 in the bottom row, bin 3 (0 dB, v = 1) in the top row.
    EXPECT_EQ(image.pixel(0, 3), (std::array<uint8_t, 4>{13, 0, 38, 255}));
    EXPECT_EQ(image.pixel(0, 2), (std::array<uint8_t, 4>{38, 0, 77, 255}));  // v = 0.15
    EXPECT_EQ(image.pixel(0, 1), (std::array<uint8_t, 4>{77, 0, 128, 255})); // v = 0.3
    EXPECT_EQ(image.pixel(0, 0), (std::array<uint8_t, 4>{255, 255, 100, 255}));
    EXPECT_EQ(image.pixel(1, 0), (std::array<uint8_t, 4>{13, 0, 38, 255}));
    // A time bin without a column stays transparent.
    EXPECT_EQ(image.pixel(2, 0), (std::array<uint8_t, 4>{0, 0, 0, 0}));

    // No range: everything takes the lowest colour.
    data.minDB = data.maxDB = -50;
    const auto flat = renderSpectrogramImage(data);
    EXPECT_EQ(flat.pixel(0, 0), (std::array<uint8_t, 4>{13, 0, 38, 255}));

    // A short column leaves its upper rows transparent.
    data.minDB = -100;
    data.maxDB = 0;
    data.magnitudes[1] = {0, 0};
    const auto partial = renderSpectrogramImage(data);
    EXPECT_EQ(partial.pixel(1, 3), (std::array<uint8_t, 4>{255, 255, 100, 255}));
    EXPECT_EQ(partial.pixel(1, 0), (std::array<uint8_t, 4>{0, 0, 0, 0}));

    data.frequencyBins.clear();
    EXPECT_TRUE(renderSpectrogramImage(data).isEmpty());
    EXPECT_TRUE(renderSpectrogramImage(SpectrogramData::empty()).rgba.empty());
}

TEST(SpectrogramCaptions, TimeAndFrequencyLabels) {
    SpectrogramData data;
    EXPECT_EQ(spectrogramTimeCaption(data), "TIME: 0.0s");
    EXPECT_TRUE(spectrogramFrequencyCaptions(data).empty());
    data.timeBins = {0.0, 12.34};
    EXPECT_EQ(spectrogramTimeCaption(data), "TIME: 12.3s");

    EXPECT_EQ(frequencyCaption(0), "0");
    EXPECT_EQ(frequencyCaption(500), "500");
    EXPECT_EQ(frequencyCaption(999.4), "999");
    EXPECT_EQ(frequencyCaption(1000), "1k");
    EXPECT_EQ(frequencyCaption(2756.25), "3k");
    EXPECT_EQ(frequencyCaption(22050), "22k");

    data.frequencyBins = {0, 8000};
    const auto captions = spectrogramFrequencyCaptions(data);
    ASSERT_EQ(captions.size(), 9u);
    EXPECT_EQ(captions[1].frequency, 1000.0);
    EXPECT_EQ(captions[1].text, "1k");
    EXPECT_EQ(captions[0].text, "0");
    EXPECT_EQ(captions[8].text, "8k");
}
