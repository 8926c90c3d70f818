#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/Error.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <ebur128.h>
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

// Integrated loudness of the same samples by libebur128 (BS.1770 with per-rate filters).
double ebur128Loudness(const Channels& channels, double rate) {
    const size_t frames = channels.front().size();
    ebur128_state* state = ebur128_init(unsigned(channels.size()), static_cast<unsigned long>(rate), EBUR128_MODE_I);
    for (size_t c = 2; c < channels.size(); ++c) {
        ebur128_set_channel(state, unsigned(c), EBUR128_LEFT_SURROUND); // weight 1.41, as the meter uses
    }
    std::vector<float> interleaved(frames * channels.size());
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    }
    ebur128_add_frames_float(state, interleaved.data(), frames);
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
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

TEST(LoudnessMeter, UsesThe48kHzFilterAtOtherRates) {
    // At 44.1 kHz the fixed coefficients shift the shelf a little: close to BS.1770, not equal.
    const double rate = 44100;
    const size_t frames = size_t(rate * 8);
    const Channels noise = {whiteNoise(0.3, frames, 1), whiteNoise(0.3, frames, 2)};
    const double reference = ebur128Loudness(noise, rate);
    const float lufs = measure("n441.wav", noise, rate).lufs + 0.5f;
    EXPECT_NEAR(lufs, reference, 1.0);
    EXPECT_GT(std::fabs(lufs - reference), 0.005);
}

TEST(LoudnessMeter, LongFilesAreMeasuredOnTheirMiddle120Seconds) {
    const double rate = 8000; // keeps the 130 s file small
    const size_t length = size_t(rate * 130);
    const size_t excerpt = size_t(rate * 120);
    const size_t start = (length - excerpt) / 2;
    auto middle = sine(300, 0.25, rate, excerpt);
    middle.front() = 0.9f; // first and last frame of the excerpt count
    middle.back() = -0.8f;
    std::vector<float> whole = whiteNoise(1.0, length, 9);
    std::copy(middle.begin(), middle.end(), whole.begin() + long(start));

    const AudioStats full = measure("long.wav", {whole}, rate);
    const AudioStats alone = measure("middle.wav", {middle}, rate);
    EXPECT_FLOAT_EQ(full.peak, 20.0f * std::log10(0.9f));
    EXPECT_EQ(full.peak, alone.peak);
    EXPECT_EQ(full.lufs, alone.lufs);
    EXPECT_EQ(full.rms, alone.rms);
}

TEST(LoudnessMeter, SilenceAndTooShortFilesGiveTheClampedValues) {
    const double rate = 44100;
    const AudioStats silent = measure("silent.wav", replicate(silence(size_t(rate * 3)), 2), rate);
    EXPECT_FLOAT_EQ(silent.peak, silentPeak);
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

TEST(LoudnessMeter, NonFiniteSamplesCountAsSilence) {
    const double rate = 48000;
    auto tone = sine(1000, 0.5, rate, size_t(rate * 4));
    auto cleaned = tone;
    for (size_t i = 10000; i < 10100; ++i) {
        tone[i] = (i % 2) ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
        cleaned[i] = 0.0f;
    }
    const AudioStats broken = measure("nan.wav", {tone, tone}, rate);
    const AudioStats zeroed = measure("zero.wav", {cleaned, cleaned}, rate);
    EXPECT_TRUE(std::isfinite(broken.lufs));
    EXPECT_EQ(broken.lufs, zeroed.lufs);
    EXPECT_EQ(broken.peak, zeroed.peak);
    EXPECT_EQ(broken.rms, zeroed.rms);
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
