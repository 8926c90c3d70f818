#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/Error.h"
#include "support/CommandRunner.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr float smallestFloat = std::numeric_limits<float>::denorm_min();
const float silentLUFS = 10.0f * std::log10(smallestFloat) - 0.691f - 0.5f; // ≈ −449.7
const float silentPeak = 20.0f * std::log10(smallestFloat);                 // ≈ −897.0

AudioStats measure(const std::string& name, const Channels& channels, double rate) {
    const auto path = scratchPath(name);
    writeWav(path, channels, rate);
    return analyzeAudioFile(path);
}

// Raised-cosine fades over the first and last `frames` samples.
std::vector<float> faded(std::vector<float> signal, size_t frames) {
    for (size_t i = 0; i < frames && i < signal.size(); ++i) {
        const float gain = float(0.5 - 0.5 * std::cos(M_PI * double(i) / double(frames)));
        signal[i] *= gain;
        signal[signal.size() - 1 - i] *= gain;
    }
    return signal;
}

template <typename F>
Error errorOf(F&& f) {
    try {
        f();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no error raised";
    return Error("none", 0, "");
}

} // namespace

TEST(LoudnessMeter, FullScaleSineAt1kHzReadsTheCalibratedFigures) {
    const double rate = 48000;
    const auto tone = sine(1000, 1.0, rate, size_t(rate * 10));
    const AudioStats stats = measure("sine.wav", replicate(tone, 2), rate);
    EXPECT_NEAR(stats.peak, 0.0f, 1e-4f);
    EXPECT_NEAR(stats.lufs, -0.5f, 0.05f);
    EXPECT_NEAR(stats.rms, -2.6f, 0.05f);

    // Half amplitude: every figure moves by −6.02 dB.
    const AudioStats half = measure("half.wav", replicate(sine(1000, 0.5, rate, size_t(rate * 10)), 2), rate);
    EXPECT_NEAR(half.peak, -6.02f, 0.01f);
    EXPECT_NEAR(half.lufs, stats.lufs - 6.02f, 0.01f);
    EXPECT_NEAR(half.rms, stats.rms - 6.02f, 0.01f);
}

TEST(LoudnessMeter, ChannelWeightsCountMonoOnceAndSurroundAt141) {
    const double rate = 48000;
    const auto tone = sine(1000, 0.5, rate, size_t(rate * 5));
    const float stereo = measure("st.wav", replicate(tone, 2), rate).lufs;
    const float mono = measure("mono.wav", replicate(tone, 1), rate).lufs;
    const float six = measure("six.wav", replicate(tone, 6), rate).lufs;
    EXPECT_NEAR(mono, stereo - 10.0f * std::log10(2.0f), 0.01f);
    EXPECT_NEAR(six, stereo + 10.0f * std::log10((2.0f + 4 * 1.41f) / 2.0f), 0.01f);
    // The RMS figure averages over all channels, so it does not depend on the count.
    EXPECT_NEAR(measure("six-rms.wav", replicate(tone, 6), rate).rms,
                measure("mono-rms.wav", replicate(tone, 1), rate).rms, 0.01f);
}

TEST(LoudnessMeter, AgreesWithLibebur128At48kHz) {
    const double rate = 48000;
    const size_t frames = size_t(rate * 12);
    // Noise with a loud and a quiet half (exercises both gates), a sine, a 4-channel mix.
    auto stepped = whiteNoise(0.5, frames, 7);
    for (size_t i = frames / 2; i < frames; ++i) stepped[i] *= 0.05f;
    const Channels cases[] = {
        {whiteNoise(0.3, frames, 1), whiteNoise(0.3, frames, 2)},
        {stepped, whiteNoise(0.1, frames, 3)},
        replicate(sine(440, 0.2, rate, frames), 2),
        {sine(200, 0.3, rate, frames), whiteNoise(0.2, frames, 4), sine(3000, 0.1, rate, frames),
         whiteNoise(0.05, frames, 5)},
    };
    int index = 0;
    for (const Channels& channels : cases) {
        const float lufs = measure("cmp" + std::to_string(index++) + ".wav", channels, rate).lufs;
        EXPECT_NEAR(lufs + 0.5, ebur128Loudness(channels, rate), 0.1) << "case " << index - 1;
    }
}

TEST(LoudnessMeter, TheSameSongReadsTheSameAtEveryRate) {
    // One song, resampled: the K-weighting is designed for each rate, so the readings agree with each
    // other and with libebur128 (the meter reads 0.5 dB under BS.1770 by calibration).
    const auto original = writeMusic(scratchPath("song-44100.wav"), 8.0, -3.0, 5, 44100);
    const float reference = analyzeAudioFile(original).lufs;
    for (const auto& [rate, path] : songAtRates(original, 44100.0, {44100.0, 48000.0, 96000.0, 192000.0})) {
        double fileRate = 0;
        const Channels channels = readWithSndfile(path, &fileRate);
        ASSERT_EQ(fileRate, rate);
        const AudioStats stats = analyzeAudioFile(path);
        EXPECT_NEAR(stats.lufs, reference, 0.1) << rate;
        EXPECT_NEAR(stats.lufs + 0.5, ebur128Loudness(channels, rate), 0.1) << rate;
    }
}

TEST(LoudnessMeter, AQuietStartDoesNotHideALoudEnd) {
    // Four quiet minutes, then one loud minute (about −6 LUFS): the whole song counts, and the gates
    // leave the loud part's loudness. Mono at a low rate keeps the five-minute file small.
    const double rate = 22050;
    const size_t quietFrames = size_t(rate * 240), loudFrames = size_t(rate * 60);
    std::vector<float> song = whiteNoise(0.005, quietFrames, 3);
    const std::vector<float> loud = whiteNoise(0.65, loudFrames, 4);
    song.insert(song.end(), loud.begin(), loud.end());

    const AudioStats whole = measure("quiet-then-loud.wav", {song}, rate);
    const AudioStats loudAlone = measure("loud-part.wav", {loud}, rate);
    EXPECT_NEAR(whole.lufs, loudAlone.lufs, 0.1);
    EXPECT_NEAR(whole.lufs, -6.0f, 1.0f);
    EXPECT_NEAR(whole.lufs + 0.5, ebur128Loudness({song}, rate), 0.1);
    EXPECT_EQ(whole.peak, loudAlone.peak);
}

TEST(LoudnessMeter, TruePeakFindsTheCrestBetweenSamplesAndAgreesWithLibebur128) {
    // A quarter-rate sine at 45°: every sample sits at 0.707 of the crest, half-way between two samples.
    // Faded in and out: a hard start at full level really does overshoot.
    const double rate = 44100;
    const auto tone = faded(sine(rate / 4, 0.5, rate, size_t(rate * 2), M_PI / 4), size_t(rate * 0.02));
    const AudioStats between = measure("crest.wav", {tone, tone}, rate);
    EXPECT_NEAR(between.peak, 20.0 * std::log10(0.5 * std::sqrt(0.5)), 0.01);
    EXPECT_NEAR(between.truePeak, 20.0 * std::log10(0.5), 0.1);

    // Music-like material at both common rates, and a sine whose crest falls on a sample.
    for (double musicRate : {44100.0, 48000.0}) {
        const auto path = writeMusic(scratchPath("tp-" + std::to_string(int(musicRate)) + ".wav"), 8.0, 0.0, 2,
                                     musicRate);
        const float truePeak = analyzeAudioFile(path).truePeak;
        EXPECT_NEAR(truePeak, ebur128TruePeakDb(readWithSndfile(path), musicRate), 0.2) << musicRate;
    }
    const AudioStats onSample = measure("on-sample.wav", {sine(1000, 0.8, 48000, 48000)}, 48000);
    EXPECT_NEAR(onSample.truePeak, onSample.peak, 0.01);
    EXPECT_NEAR(onSample.truePeak, 20.0 * std::log10(0.8), 0.01);
}

TEST(LoudnessMeter, AClickCountsTheSameWhereverTheFileIsCutIntoChunks) {
    // The file is read in pieces of 65536 frames; a click on either side of a cut, or far from one,
    // reads the same levels.
    const double rate = 48000;
    AudioStats readings[3];
    const size_t positions[] = {30000, 65535, 65536};
    for (int i = 0; i < 3; ++i) {
        std::vector<float> clicks = silence(size_t(rate * 3));
        clicks[positions[i]] = 1.0f;
        readings[i] = measure("click" + std::to_string(i) + ".wav", {clicks}, rate);
    }
    for (const AudioStats& reading : readings) {
        EXPECT_EQ(reading.peak, 0.0f);
        EXPECT_EQ(reading.rms, readings[0].rms);
        EXPECT_NEAR(reading.lufs, readings[0].lufs, 0.05);
        EXPECT_NEAR(reading.truePeak, 0.0f, 0.01);
    }
}

TEST(LoudnessMeter, SilenceAndTooShortFilesGiveTheClampedValues) {
    const double rate = 44100;
    const AudioStats silent = measure("silent.wav", replicate(silence(size_t(rate * 3)), 2), rate);
    EXPECT_FLOAT_EQ(silent.peak, silentPeak);
    EXPECT_FLOAT_EQ(silent.truePeak, silentPeak);
    EXPECT_NEAR(silent.peak, -897.0f, 0.1f);
    EXPECT_FLOAT_EQ(silent.lufs, silentLUFS);
    EXPECT_NEAR(silent.lufs, -449.7f, 0.1f);

    // 300 ms: no loudness block, but peak and RMS are measured.
    const AudioStats shortTone = measure("short.wav", replicate(sine(1000, 0.5, rate, size_t(rate * 0.3)), 2), rate);
    EXPECT_FLOAT_EQ(shortTone.lufs, silentLUFS);
    EXPECT_NEAR(shortTone.peak, -6.02f, 0.05f);
    EXPECT_TRUE(std::isfinite(shortTone.rms));

    // 50 ms: no RMS window either; the figure is not a number.
    const AudioStats tiny = measure("tiny.wav", replicate(sine(1000, 0.5, rate, size_t(rate * 0.05)), 2), rate);
    EXPECT_TRUE(std::isnan(tiny.rms));
    EXPECT_NEAR(tiny.peak, -6.02f, 0.05f);
    EXPECT_FLOAT_EQ(tiny.lufs, silentLUFS);
}

TEST(LoudnessMeter, LoudnessIsMeasurableOnlyWithAWholeBlockAboveTheGate) {
    const double rate = 44100;
    struct Case {
        const char* name;
        Channels channels;
        Measurability expected;
    };
    const Case cases[] = {
        {"one sample", {{0.5f}, {0.5f}}, Measurability::tooShort},
        {"50 ms", replicate(sine(1000, 0.5, rate, size_t(rate * 0.05)), 2), Measurability::tooShort},
        {"exactly one block", replicate(sine(1000, 0.5, rate, size_t(rate * 0.4)), 2), Measurability::tooShort},
        {"digital silence", replicate(silence(size_t(rate * 3)), 2), Measurability::silent},
        {"noise at -80 dBFS", replicate(whiteNoise(1e-4, size_t(rate * 3)), 2), Measurability::silent},
        {"half a second of tone", replicate(sine(1000, 0.5, rate, size_t(rate * 0.5)), 2), Measurability::measurable},
        {"a click in silence", {[&] {
             auto signal = silence(size_t(rate * 3));
             for (size_t i = 0; i < 441; ++i) signal[size_t(rate) + i] = 0.5f;
             return signal;
         }()},
         Measurability::measurable},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(measure("case.wav", c.channels, rate).measurability, c.expected) << c.name;
    }
    const Error error = unmeasurableAudioError(Measurability::tooShort);
    EXPECT_EQ(error.domain(), "Orvanta");
    EXPECT_EQ(error.code(), engine_error::unmeasurable);
    EXPECT_NE(unmeasurableAudioError(Measurability::silent).description().find("silent"), std::string::npos);
    EXPECT_NE(error.description().find("too short to measure"), std::string::npos);
}

TEST(LoudnessMeter, SamplesThatAreNoAudioAreRefused) {
    const double rate = 48000;
    auto tone = sine(1000, 0.5, rate, size_t(rate * 4));
    tone[100000] = std::numeric_limits<float>::quiet_NaN();
    const auto path = scratchPath("nan.wav");
    writeWav(path, {tone, tone}, rate);
    const Error error = errorOf([&] { analyzeAudioFile(path); });
    EXPECT_TRUE(error.is("AudioFile", int(AudioFileErrorCode::invalidSamples))) << error.description();
}

TEST(LoudnessMeter, BadFilesFailWithClearErrors) {
    const auto empty = scratchPath("empty.wav");
    writeWav(empty, {{}, {}}, 44100);
    const Error emptyError = errorOf([&] { analyzeAudioFile(empty); });
    EXPECT_EQ(emptyError.domain(), "Orvanta");
    EXPECT_EQ(emptyError.code(), engine_error::emptyFile);
    EXPECT_EQ(emptyError.description(), "Audio file is empty");

    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "this is not audio at all, just words in a file with a .wav name\n";
    EXPECT_NE(errorOf([&] { analyzeAudioFile(text); }).description().find("notes.wav"), std::string::npos);

    const auto missing = scratchPath("missing.flac");
    EXPECT_NE(errorOf([&] { analyzeAudioFile(missing); }).description().find("missing.flac"), std::string::npos);
}

TEST(LoudnessMeter, BiquadFilterNormalisesAndHandlesEmptyCoefficients) {
    EXPECT_TRUE(biquadFilter({}, {1, 0, 0}, {1, 0, 0}).empty());
    EXPECT_EQ(biquadFilter({1, 2, 3}, {}, {1}), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(biquadFilter({1, 2, 3}, {1}, {}), (std::vector<float>{0, 0, 0}));
    // a0 = 2 halves everything; missing a1/a2 count as 0: y = 0.5·x + 0.5·x[n−1].
    EXPECT_EQ(biquadFilter({2, 4, 0, 0}, {1, 1}, {2}), (std::vector<float>{1, 3, 2, 0}));
    // Impulse response of a one-pole recursion y = x − a1·y[n−1] with a1 = −0.5.
    EXPECT_EQ(biquadFilter({1, 0, 0, 0}, {1, 0, 0}, {1, -0.5f, 0}), (std::vector<float>{1, 0.5f, 0.25f, 0.125f}));
}
