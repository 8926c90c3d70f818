#include "analyzer/AudioAnalyzer.h"
#include "analyzer/LoudnessAnalysis.h"
#include "engine/ProcessingErrors.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

using namespace orvanta;
using namespace orvanta::test;

namespace {

void expectFallbacks(const AudioAnalysisResult& result) {
    const auto& d = result.analysisDetails;
    EXPECT_EQ(d.spectralBalance, AudioAnalysisResult::SpectralBalance{});
    EXPECT_EQ(result.spectrogramData, SpectrogramData::empty());
    EXPECT_EQ(d.truePeakLevel, 0.0);
    EXPECT_EQ(d.truePeakDB, -120.0);
    EXPECT_GE(result.overallScore, 0.0);
    EXPECT_LE(result.overallScore, 100.0);
}

} // namespace

TEST(AnalyzeFile, FullScaleSineHasItsKnownFigures) {
    const double rate = 48000;
    const auto path = scratchPath("sine.wav");
    const auto tone = sine(1000, 1.0, rate, size_t(rate * 10));
    writeWav(path, {tone, tone}, rate);
    const std::string before = contentsOf(path);

    std::vector<double> progress;
    const auto result = AudioAnalyzer::analyzeFile(path, [&progress](double p) { progress.push_back(p); });
    const auto& d = result.analysisDetails;
    EXPECT_EQ(d.sampleRate, rate);
    EXPECT_DOUBLE_EQ(d.duration, 10.0);
    EXPECT_EQ(d.channels, 2);
    EXPECT_NEAR(d.peakLevel, 1.0, 1e-6);
    EXPECT_NEAR(d.rmsLevel, std::sqrt(0.5), 1e-4);
    EXPECT_NEAR(d.lufsIntegrated, -0.5, 0.05);
    EXPECT_EQ(d.recommendedUseCase, "FESTIVAL");
    EXPECT_EQ(d.recommendationNote, "Putin prea tare pentru FESTIVAL");
    EXPECT_EQ(d.midEnergyRatio, 1.0);
    EXPECT_EQ(d.sideEnergyRatio, 0.0);
    EXPECT_GT(d.spectralBalance.mid, 0.95);
    EXPECT_NEAR(result.spaciousness, 0.5, 1e-5);
    EXPECT_EQ(d.truePeakDB, -120.0);
    EXPECT_FALSE(result.spectrogramData.magnitudes.empty());
    EXPECT_EQ(contentsOf(path), before); // the user's file is only read

    // The fixed progress points, in order.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0.02);
    EXPECT_EQ(progress.back(), 1.0);
    for (double p : progress) {
        EXPECT_GE(p, 0.0);
        EXPECT_LE(p, 1.0);
    }
    std::vector<double> points;
    std::copy_if(progress.begin(), progress.end(), std::back_inserter(points), [](double p) {
        return p == 0.05 || p == 0.08 || p == 0.1 || p == 0.75 || p == 0.85 || p == 0.95;
    });
    const std::vector<double> expected = {0.05, 0.08, 0.1, 0.75, 0.85, 0.95};
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << "the read rises from 0.1 to 0.75";
    EXPECT_TRUE(std::includes(points.begin(), points.end(), expected.begin(), expected.end()))
        << "points reported: " << points.size();

    const auto peak = AudioAnalyzer::measureTruePeak(path);
    EXPECT_NEAR(peak.truePeakDB, 0.0, 0.02);
}

TEST(AnalyzeFile, SquareWaveClipsOnTheMonoMix) {
    const auto path = scratchPath("square.wav");
    const auto wave = square(100, 1.0, 44100, 44100 * 3);
    writeWav(path, {wave, wave}, 44100);
    const auto result = AudioAnalyzer::analyzeFile(path);
    EXPECT_EQ(result.analysisDetails.clippingCount, 44100 * 3);
    EXPECT_DOUBLE_EQ(result.analysisDetails.clippingPercent, 1.0);
}

TEST(AnalyzeFile, InputWithoutAMeasurableLoudnessIsRefused) {
    const double rate = 44100;
    struct Case {
        const char* name;
        Channels channels;
        int code;
        const char* expected;
    };
    const Case cases[] = {
        {"no frames", {{}, {}}, engine_error::emptyFile, "empty"},
        {"one sample", {{0.5f}, {0.5f}}, engine_error::unmeasurable, "too short to measure"},
        {"90 ms", {whiteNoise(0.5, 4000, 1), whiteNoise(0.5, 4000, 2)}, engine_error::unmeasurable,
         "too short to measure"},
        {"digital silence", replicate(silence(size_t(rate * 5)), 2), engine_error::unmeasurable, "silent"},
    };
    for (const Case& c : cases) {
        const auto path = scratchPath("input.wav");
        writeWav(path, c.channels, rate);
        try {
            AudioAnalyzer::analyzeFile(path);
            ADD_FAILURE() << c.name << ": analysed";
        } catch (const Error& error) {
            EXPECT_TRUE(error.is("Orvanta", c.code)) << c.name << ": " << error.domain() << "/" << error.code();
            EXPECT_NE(error.description().find(c.expected), std::string::npos) << c.name << ": " << error.description();
        }
    }
    // The peak pass needs no loudness: silence reads its floor.
    const auto silentPath = scratchPath("silent.wav");
    writeWav(silentPath, replicate(silence(size_t(rate)), 2), rate);
    EXPECT_EQ(AudioAnalyzer::measureTruePeak(silentPath).truePeakDB, -120.0);
}

TEST(AnalyzeFile, HalfASecondAt8kHzIsMeasuredWithoutASpectrum) {
    // 3600 samples: one 400 ms loudness block, but no 4096-point spectral frame.
    const auto path = scratchPath("blip.wav");
    writeWav(path, {whiteNoise(0.5, 3600, 1), whiteNoise(0.5, 3600, 2)}, 8000);
    const auto result = AudioAnalyzer::analyzeFile(path);
    expectFallbacks(result);
    EXPECT_GT(result.analysisDetails.peakLevel, 0.0);
    EXPECT_GT(result.analysisDetails.lufsIntegrated, -30.0);
}

TEST(AnalyzeFile, LowRatesGiveFiniteFiguresAndScoresInRange) {
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0}) {
        const auto path = writeMusic(scratchPath("music.wav"), 6.0, -6.0, 2, rate);
        const auto result = AudioAnalyzer::analyzeFile(path);
        const auto& d = result.analysisDetails;
        for (double value : {d.peakLevel, d.rmsLevel, d.lufsIntegrated, d.lufsMomentaryMax, d.lufsShortTermMax,
                             d.stereoWidth}) {
            EXPECT_TRUE(std::isfinite(value)) << rate;
        }
        EXPECT_GT(d.lufsIntegrated, -40.0) << rate;
        EXPECT_LT(d.lufsIntegrated, 0.0) << rate;
        for (double score : {result.warmth, result.clarity, result.dynamics, result.spaciousness,
                             result.macBookScore, result.paSystemScore}) {
            EXPECT_GE(score, 0.0) << rate;
            EXPECT_LE(score, 1.0) << rate;
        }
        EXPECT_GE(result.overallScore, 0.0) << rate;
        EXPECT_LE(result.overallScore, 100.0) << rate;
        const auto& b = d.spectralBalance;
        EXPECT_NEAR(b.subBass + b.bass + b.lowMid + b.mid + b.highMid, 1.0, 1e-9) << rate;
    }
}

TEST(AnalyzeFile, MonoAndSixChannelFiles) {
    const auto monoPath = scratchPath("mono.wav");
    writeWav(monoPath, {whiteNoise(0.3, 44100 * 4, 6)}, 44100);
    const auto mono = AudioAnalyzer::analyzeFile(monoPath);
    const auto& m = mono.analysisDetails;
    EXPECT_EQ(m.channels, 1);
    EXPECT_EQ(m.midEnergyRatio, 1.0);
    EXPECT_EQ(m.sideEnergyRatio, 0.0);
    EXPECT_EQ(m.stereoWidth, 0.0);
    EXPECT_EQ(mono.spaciousness, 0.5);
    EXPECT_GT(m.spectralBalance.highMid, 0.0);

    Channels six;
    for (uint32_t c = 0; c < 6; ++c) six.push_back(sine(220.0 * (c + 1), 0.2, 48000, 48000 * 4));
    six[5][1000] = 0.9f;
    const auto sixPath = scratchPath("six.wav");
    writeWav(sixPath, six, 48000);
    const auto surround = AudioAnalyzer::analyzeFile(sixPath);
    EXPECT_EQ(surround.analysisDetails.channels, 6);
    EXPECT_GT(surround.analysisDetails.lufsIntegrated, -40.0);
    EXPECT_NEAR(AudioAnalyzer::measureTruePeak(sixPath).truePeakLevel, 0.9, 0.01);
}

TEST(AnalyzeFile, LoudnessOfALongFileCoversTheWholeSong) {
    // Four quiet minutes, then one loud minute: the loudness is the loud part's, as the gates leave it.
    const double rate = 22050;
    std::vector<float> song = whiteNoise(0.005, size_t(rate * 240), 8);
    const auto loud = whiteNoise(0.65, size_t(rate * 60), 9);
    song.insert(song.end(), loud.begin(), loud.end());
    const auto songPath = scratchPath("quiet-then-loud.wav");
    writeWav(songPath, {song}, rate);
    const auto loudPath = scratchPath("loud-part.wav");
    writeWav(loudPath, {loud}, rate);

    const auto whole = AudioAnalyzer::analyzeFile(songPath).analysisDetails;
    const auto loudPart = AudioAnalyzer::analyzeFile(loudPath).analysisDetails;
    EXPECT_NEAR(whole.lufsIntegrated, loudPart.lufsIntegrated, 0.1);
    EXPECT_NEAR(whole.lufsIntegrated, -6.0, 1.0);
    EXPECT_NEAR(whole.lufsMomentaryMax, loudPart.lufsMomentaryMax, 0.05);
    EXPECT_DOUBLE_EQ(whole.duration, 300.0);
}

TEST(MeasureTruePeak, FindsTheCrestBetweenSamplesInAnyChannel) {
    // A quarter-rate sine at 45° in the second channel: its samples sit at 0.707 of the crest.
    const double rate = 44100;
    auto between = sine(rate / 4, 0.8, rate, size_t(rate * 2), M_PI / 4);
    for (size_t i = 0; i < 882; ++i) { // 20 ms fades: a hard start at full level really overshoots
        const float gain = float(0.5 - 0.5 * std::cos(M_PI * double(i) / 882.0));
        between[i] *= gain;
        between[between.size() - 1 - i] *= gain;
    }
    const auto path = scratchPath("peaks.wav");
    writeWav(path, {sine(440, 0.5, rate, size_t(rate * 2)), between}, rate);
    const auto peak = AudioAnalyzer::measureTruePeak(path);
    EXPECT_NEAR(peak.truePeakDB, 20.0 * std::log10(0.8), 0.1);
    EXPECT_NEAR(peak.truePeakDB, 20.0 * std::log10(peak.truePeakLevel), 1e-9);
    // The mono mix of the analysis is lower than either channel's peak.
    EXPECT_LT(AudioAnalyzer::analyzeFile(path).analysisDetails.peakLevel, 0.7);

    // Music-like material, against libebur128.
    const auto music = writeMusic(scratchPath("music.wav"), 8.0, 0.0, 3, 48000);
    EXPECT_NEAR(AudioAnalyzer::measureTruePeak(music).truePeakDB, ebur128TruePeakDb(readWithSndfile(music), 48000),
                0.2);
}

TEST(AnalyzeFile, BadInputIsAClearErrorAndCancellationStops) {
    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all, just a few words";
    for (const auto& path : {scratchPath("missing.wav"), text}) {
        try {
            AudioAnalyzer::analyzeFile(path);
            FAIL() << path;
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "AudioFile");
            EXPECT_NE(error.description().find(path.filename().string()), std::string::npos);
        }
        EXPECT_THROW(AudioAnalyzer::measureTruePeak(path), Error);
    }
    EXPECT_EQ(contentsOf(text), "not audio at all, just a few words");

    const auto path = scratchPath("cancel.wav");
    writeWav(path, {whiteNoise(0.3, 44100 * 20, 1)}, 44100);
    for (int after : {0, 3, 50}) {
        int asked = 0;
        try {
            AudioAnalyzer::analyzeFile(path, {}, [&] { return ++asked > after; });
            FAIL() << "not cancelled after " << after;
        } catch (const Error& error) {
            EXPECT_TRUE(error.is("Orvanta", 100));
        }
    }

    EXPECT_EQ(AudioAnalyzer::analyzerError(AudioAnalyzer::AnalyzerError::bufferCreationFailed).description(),
              "Failed to create audio buffer");
    const auto noData = AudioAnalyzer::analyzerError(AudioAnalyzer::AnalyzerError::noAudioData);
    EXPECT_EQ(noData.description(), "No audio data found");
    EXPECT_EQ(noData.domain(), "AudioAnalyzer");
}
