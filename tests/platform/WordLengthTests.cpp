// Word lengths and containers of written files: 16-bit dither, 24-bit FLAC, 32-bit float, MP3 and
// the sample-rate converter, each judged on the real file read back.
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/Error.h"
#include "platform/LosslessTranscode.h"
#include "platform/SampleRateConversion.h"
#include "support/AudioMeasures.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100.0;

fs::path transcoded(const fs::path& source, const std::string& name, AudioContainer container, int bits,
                    DitherShape dither = DitherShape::flat) {
    const fs::path out = scratchPath(name);
    transcodeLossless(source, out, {container, bits, dither});
    return out;
}

// Every sample of a file as ffmpeg decodes it, as 32-bit integers.
std::string decodedIntegers(const fs::path& file) {
    const fs::path raw = scratchPath(file.filename().string() + ".s32");
    const auto run = runProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", file.string(), "-f", "s32le", raw.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    return contentsOf(raw);
}

double dbfs(double rms) { return 20.0 * std::log10(rms); }

// Normalised autocorrelation at `lag`: near 0 at every lag for white noise.
double autocorrelation(const std::vector<float>& x, size_t lag) {
    double r0 = 0.0, rk = 0.0;
    for (size_t i = 0; i + lag < x.size(); ++i) {
        r0 += double(x[i]) * x[i];
        rk += double(x[i]) * x[i + lag];
    }
    return rk / r0;
}

// Amplitude of the `frequency` component, by projection onto sine and cosine.
double toneAmplitude(const std::vector<float>& x, double frequency) {
    double s = 0.0, c = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double phase = 2.0 * std::numbers::pi * frequency * double(i) / rate;
        s += x[i] * std::sin(phase);
        c += x[i] * std::cos(phase);
    }
    return 2.0 * std::hypot(s, c) / double(x.size());
}

// Power below about 2 kHz: the signal through a 10-sample moving average.
double lowBandPower(const std::vector<float>& x) {
    double power = 0.0, sum = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        sum += x[i] - (i >= 10 ? x[i - 10] : 0.0f);
        power += (sum / 10.0) * (sum / 10.0);
    }
    return power / double(x.size());
}

// Power below about 2 kHz with little leakage from above: three 10-sample moving averages in a row
// (side lobes near −40 dB).
double lowBandPowerSharp(const std::vector<float>& x) {
    std::vector<double> y(x.begin(), x.end());
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<double> z(y.size());
        double sum = 0.0;
        for (size_t i = 0; i < y.size(); ++i) {
            sum += y[i] - (i >= 10 ? y[i - 10] : 0.0);
            z[i] = sum / 10.0;
        }
        y.swap(z);
    }
    double power = 0.0;
    for (const double v : y) power += v * v;
    return power / double(y.size());
}

std::vector<float> difference(const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> d(a.size());
    for (size_t i = 0; i < a.size(); ++i) d[i] = a[i] - b[i];
    return d;
}

} // namespace

// The 16-bit file's difference to its 24-bit source is white TPDF noise: total error q/2 RMS
// (rounding q²/12 plus dither q²/6), −96.3 dBFS; it does not depend on the music and hides a tone
// of a third of an LSB instead of rounding it away. The same samples always make the same file.
TEST(Dither, SixteenBitsAreTheSourcePlusWhiteNoiseAtMinus96Dbfs) {
    const size_t frames = size_t(rate) * 4;
    std::vector<float> music = sine(440.0, 0.5, rate, frames);
    const std::vector<float> noise = whiteNoise(0.2, frames, 7);
    for (size_t i = 0; i < frames; ++i) music[i] += noise[i];
    const fs::path source = scratchPath("source.wav");
    writeWav(source, {music, sine(1000.0, 1e-5, rate, frames)}, rate, SampleFormat::pcm24); // −100 dBFS tone
    const fs::path sixteen = transcoded(source, "sixteen.wav", AudioContainer::wav, 16);

    const Channels before = readWithSndfile(source);
    const Channels after = readWithSndfile(sixteen);
    ASSERT_EQ(after.front().size(), frames);
    const std::vector<float> error = difference(after[0], before[0]);
    EXPECT_NEAR(dbfs(rmsOf(error)), -96.3, 0.3);
    for (size_t lag = 1; lag <= 8; ++lag) EXPECT_LT(std::fabs(autocorrelation(error, lag)), 0.02) << "lag " << lag;
    // Flat: the low band holds the share a white spectrum gives it (a 10-tap average passes ~1/10).
    EXPECT_NEAR(10.0 * std::log10(lowBandPower(error) / (rmsOf(error) * rmsOf(error))), -10.0, 1.0);

    // The −100 dBFS tone (0.33 LSB) survives with its level; rounding alone would leave silence.
    EXPECT_NEAR(dbfs(toneAmplitude(after[1], 1000.0)), -100.0, 1.0);
    EXPECT_GT(peakOf(after[1]), 0.0);

    const fs::path again = transcoded(source, "again.wav", AudioContainer::wav, 16);
    EXPECT_EQ(contentsOf(again), contentsOf(sixteen)) << "the dither's seed is fixed";
    const fs::path flac = transcoded(source, "sixteen.flac", AudioContainer::flac, 16);
    EXPECT_EQ(decodedIntegers(flac), decodedIntegers(sixteen)) << "16-bit FLAC holds the same dithered samples";
}

// Noise shaping moves the noise out of the low band, and a full-scale square wave (clipping every
// half cycle) neither wraps nor drives the error feedback away.
TEST(Dither, NoiseShapingLowersTheLowBandAndStaysStableAtFullScale) {
    const size_t frames = size_t(rate) * 2;
    const fs::path source = scratchPath("quiet.wav");
    writeWav(source, {sine(440.0, 0.25, rate, frames)}, rate, SampleFormat::pcm24);
    const auto error = [&](const fs::path& file) { return difference(readWithSndfile(file)[0], readWithSndfile(source)[0]); };
    const auto flat = error(transcoded(source, "flat.wav", AudioContainer::wav, 16));
    const auto shaped = error(transcoded(source, "shaped.wav", AudioContainer::wav, 16, DitherShape::noiseShaped));
    EXPECT_LT(10.0 * std::log10(lowBandPowerSharp(shaped) / lowBandPowerSharp(flat)), -12.0);
    EXPECT_GT(rmsOf(shaped), rmsOf(flat)) << "more noise in total, where it is heard least";

    const fs::path loud = scratchPath("square.wav");
    writeWav(loud, {square(100.0, 1.2, rate, frames)}, rate, SampleFormat::float32);
    const Channels clipped = readWithSndfile(transcoded(loud, "square16.wav", AudioContainer::wav, 16, DitherShape::noiseShaped));
    const Channels wanted = readWithSndfile(loud);
    double worst = 0.0;
    for (size_t i = 0; i < frames; ++i)
        worst = std::max(worst, std::fabs(double(clipped[0][i]) - std::clamp(double(wanted[0][i]), -1.0, 32767.0 / 32768.0)));
    EXPECT_LT(worst * 32768.0, 24.0) << "at most a few LSB of shaped noise, never a wrapped sample";
}

// A 24-bit FLAC holds the 24-bit WAV's samples bit for bit; a 32-bit float WAV holds floats as they
// are, above full scale and far below it.
TEST(LosslessFormats, FlacAndFloatKeepEverySample) {
    const fs::path wav = writeMusic(scratchPath("music.wav"), 3.0, -1.0, 3);
    const fs::path wav24 = transcoded(wav, "music24.wav", AudioContainer::wav, 24);
    const fs::path flac = transcoded(wav24, "music.flac", AudioContainer::flac, 24);
    const std::string integers = decodedIntegers(wav24);
    ASSERT_FALSE(integers.empty());
    EXPECT_EQ(decodedIntegers(flac), integers);
    EXPECT_EQ(readWithSndfile(flac), readWithSndfile(wav24));

    const Channels floats = {{0.0f, 1.5f, -2.0f, 1e-9f, -0.3f, 0.999999f}};
    const fs::path source = scratchPath("floats.wav");
    writeWav(source, floats, rate, SampleFormat::float32);
    EXPECT_EQ(readWithSndfile(transcoded(source, "copy.wav", AudioContainer::wav, AudioFileWriter::floatSamples)), floats);

    // FLAC cannot hold floats or nine channels: refused before any file appears.
    for (const auto& [channels, bits] : {std::pair{2u, AudioFileWriter::floatSamples}, std::pair{9u, 24}}) {
        const fs::path refused = scratchPath("refused.flac");
        try {
            AudioFileWriter writer(refused, AudioFormat{rate, channels}, bits, -1, AudioContainer::flac);
            FAIL() << "FLAC with " << channels << " channels at " << bits << " bits";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), int(AudioFileErrorCode::unsupportedFormat));
        }
        EXPECT_FALSE(fs::exists(refused));
    }
}

// 44.1 to 48 kHz and back down: the length scales exactly, a tone keeps its level and purity, and a
// click stays where it was in time.
TEST(SampleRateConversion, KeepsLevelPurityLengthAndTiming) {
    const size_t frames = size_t(rate) * 2 + 101;
    std::vector<float> click(frames, 0.0f);
    click[22050] = 0.5f;
    const fs::path source = scratchPath("tone.wav");
    writeWav(source, {sine(1000.0, 0.5, rate, frames), click}, rate, SampleFormat::float32);
    const fs::path up = scratchPath("up.wav");
    convertSampleRate(source, up, 48000);
    double upRate = 0.0;
    const Channels converted = readWithSndfile(up, &upRate);
    EXPECT_EQ(upRate, 48000.0);
    ASSERT_EQ(converted[0].size(), size_t(std::llround(double(frames) * 48000.0 / rate)));
    EXPECT_NEAR(dbfs(rmsOf(std::vector<float>(converted[0].begin() + 4800, converted[0].end() - 4800))),
                dbfs(0.5 / std::sqrt(2.0)), 0.01);
    EXPECT_LT(thdPlusNoiseDb(converted[0], 48000.0, 1000.0), -110.0);
    const auto loudest = std::max_element(converted[1].begin(), converted[1].end(),
                                          [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_NEAR(double(loudest - converted[1].begin()), 24000.0, 1.0) << "0.5 s in, at either rate";

    const fs::path down = scratchPath("down.wav");
    convertSampleRate(up, down, 44100);
    EXPECT_EQ(readWithSndfile(down)[0].size(), frames);
}
