#include "engine/LimiterPass.h"
#include "engine/LoudnessMeter.h"
#include "engine/MultibandLimiter.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/PhysicalMemory.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

uint32_t expectedBlockFrames(double rate) {
    return uint32_t(rate * (physicalMemoryBytes() > 8'000'000'000ull ? 2.0 : 1.0));
}

SF_INFO infoOf(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr);
    if (file) sf_close(file);
    return info;
}

} // namespace

TEST(LimiterPass, AnIdlePassIsFlatAlignedWithTheInputAndAsLong) {
    // A quiet impulse through a pass at gain 1: nothing is limited, so the master is the impulse again,
    // flat at every frequency, on the input's sample and no longer than the input.
    for (double rate : {44100.0, 96000.0}) {
        const size_t frames = size_t(rate * 1.5) + 17; // not a whole number of blocks
        const size_t at = size_t(rate * 0.25);
        Channels input(2, std::vector<float>(frames, 0.0f));
        input[0][at] = input[1][at] = 0.25f;
        const auto in = scratchPath("impulse.wav");
        writeWav(in, input, rate);
        const auto out = scratchPath("sub/dir/impulse-out.wav"); // missing folders are created
        renderLimiterPass(in, out, 1.0f, 128, -8.0f, -0.3f, nullptr, nullptr);

        const SF_INFO info = infoOf(out);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        EXPECT_EQ(info.samplerate, int(rate));
        EXPECT_EQ(info.frames, sf_count_t(frames)) << "exactly as long as the input";
        const Channels written = readWithSndfile(out);
        for (size_t i = 0; i < at; ++i) {
            ASSERT_LE(std::fabs(written[0][i]), 4e-6f) << "nothing before the impulse but rounding: " << i;
        }
        EXPECT_NEAR(written[0][at], 0.25f, 1e-4f) << "the impulse lands on the input's sample";

        double lowest = 1e9, highest = -1e9;
        for (double f = 20.0; f <= 20000.0; f *= 1.05) {
            double re = 0, im = 0;
            const double w = 2.0 * M_PI * f / rate;
            for (size_t n = at; n < frames; ++n) {
                re += written[1][n] * std::cos(w * double(n - at));
                im -= written[1][n] * std::sin(w * double(n - at));
            }
            const double db = 20.0 * std::log10(std::hypot(re, im) / 0.25);
            lowest = std::min(lowest, db);
            highest = std::max(highest, db);
        }
        EXPECT_GT(lowest, -0.1) << rate;
        EXPECT_LT(highest, 0.1) << rate;
    }
    // An existing output is replaced.
    const auto in = scratchPath("tone.wav");
    const auto out = scratchPath("tone-out.wav");
    writeWav(in, replicate(sine(440, 0.5, 44100, 44100), 1), 44100);
    renderLimiterPass(in, out, 2.0f, 0, -8.0f, -0.3f, nullptr, nullptr);
    renderLimiterPass(in, out, 0.25f, 0, -14.0f, -1.0f, nullptr, nullptr);
    EXPECT_LT(peakOf(readWithSndfile(out)[0]), 0.2);
}

TEST(LimiterPass, AnIdlePassGivesTheInputBack) {
    // The crossovers' all-pass forwards in the bands and backwards after them: zero phase overall, so
    // a master that nothing limits is its input, sample for sample, at any rate.
    for (double rate : {44100.0, 96000.0}) {
        const auto in = writeMusic(scratchPath("idle.wav"), 3.3, -12.0, 4, rate);
        const Channels input = readWithSndfile(in);
        const auto out = scratchPath("idle-out.wav");
        const LimiterPassReport report = renderLimiterPass(in, out, 1.0f, 120, -8.0f, -0.3f, nullptr, nullptr);
        // The pass measures what it writes: the file's own figures, within 24-bit rounding.
        const AudioStats file = analyzeAudioFile(out);
        EXPECT_NEAR(report.stats.lufs, file.lufs, 1e-3);
        EXPECT_NEAR(report.stats.peak, file.peak, 1e-3);
        EXPECT_NEAR(report.stats.truePeak, file.truePeak, 1e-3);
        EXPECT_NEAR(report.stats.rms, file.rms, 1e-3);
        const Channels written = readWithSndfile(out);
        ASSERT_EQ(written[0].size(), input[0].size());
        double worst = 0;
        for (size_t c = 0; c < input.size(); ++c)
            for (size_t i = 0; i < input[c].size(); ++i)
                worst = std::max(worst, double(std::fabs(written[c][i] - input[c][i])));
        // Single-precision crossovers whose low poles sit close to the unit circle at high rates leave a
        // rounding residue: −90 dB at 44.1 kHz, −75 dB at 96 kHz.
        EXPECT_LT(worst, rate < 50000 ? 5e-5 : 3e-4) << rate;
    }
}

TEST(LimiterPass, AsksForCancellationBeforeEveryBlockAndReportsProgress) {
    const double rate = 8000;
    const uint32_t block = expectedBlockFrames(rate);
    const size_t frames = size_t(block) * 3 + block / 2; // 3.5 blocks
    const auto in = scratchPath("blocks.wav");
    writeWav(in, replicate(sine(200, 0.5, rate, frames), 1), rate);

    int asked = 0;
    std::vector<double> progress;
    renderLimiterPass(in, scratchPath("o.wav"), 1.0f, 0, -10.0f, -0.2f,
                      [&](double p) { progress.push_back(p); }, [&] { ++asked; return false; });
    EXPECT_EQ(asked, 4);
    const std::vector<double> expected = {0.0, 1.0 / 3.5, 2.0 / 3.5, 3.0 / 3.5, 1.0, 1.0};
    ASSERT_EQ(progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(progress[i], expected[i], 1e-9);

    // A file of one block: 0.0, then 1.0 as the fraction, then 1.0 again.
    const auto single = scratchPath("single.wav");
    writeWav(single, replicate(sine(200, 0.5, rate, block / 2), 1), rate);
    progress.clear();
    renderLimiterPass(single, scratchPath("s.wav"), 1.0f, 0, -10.0f, -0.2f, [&](double p) { progress.push_back(p); },
                      nullptr);
    EXPECT_EQ(progress, (std::vector<double>{0.0, 1.0, 1.0}));

    // Cancelled before the third block: code 100, the partial output stays where it was written.
    asked = 0;
    const auto partial = scratchPath("partial.wav");
    try {
        renderLimiterPass(in, partial, 1.0f, 0, -10.0f, -0.2f, nullptr, [&] { return ++asked == 3; });
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), "Orvanta");
        EXPECT_EQ(error.code(), engine_error::cancelled);
        EXPECT_EQ(error.description(), "The process was canceled by the user");
    }
    EXPECT_TRUE(fs::exists(partial));
}

TEST(LimiterPass, UnreadableStretchesBecomeSilence) {
    // A FLAC file cut short: the frame count of its header promises more than the data holds.
    const double rate = 44100;
    const size_t frames = size_t(rate * 3);
    const auto flac = scratchPath("cut.flac");
    {
        SF_INFO info{};
        info.samplerate = int(rate);
        info.channels = 1;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(flac.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        const auto noise = whiteNoise(0.5, frames, 2);
        sf_writef_float(file, noise.data(), sf_count_t(frames));
        sf_close(file);
    }
    fs::resize_file(flac, fs::file_size(flac) / 2);
    int64_t length = 0;
    try {
        length = AudioFileReader(flac).lengthFrames();
    } catch (const Error&) {
        GTEST_SKIP() << "the reader refuses the cut file at open";
    }
    const auto out = scratchPath("cut-out.wav");
    renderLimiterPass(flac, out, 1.0f, 0, -10.0f, -0.2f, nullptr, nullptr);
    const Channels written = readWithSndfile(out);
    EXPECT_EQ(int64_t(written[0].size()), length) << "the output keeps the input's length";
    for (float x : written[0]) ASSERT_TRUE(std::isfinite(x));
    // The half before the cut is still there; only the damaged stretch is silent.
    const std::vector<float> opening(written[0].begin(), written[0].begin() + size_t(rate));
    EXPECT_GT(rmsOf(opening), 0.1);
}

TEST(LimiterPass, BadInputOrDestinationFailsAndLeavesTheInputAlone) {
    const auto text = scratchPath("words.wav");
    std::ofstream(text) << "no audio here\n";
    try {
        renderLimiterPass(text, scratchPath("x.wav"), 1.0f, 0, -10.0f, -0.2f, nullptr, nullptr);
        FAIL();
    } catch (const Error& error) {
        EXPECT_NE(error.description().find("words.wav"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(scratchPath("x.wav")));

    const auto in = scratchPath("fine.wav");
    writeWav(in, replicate(sine(200, 0.5, 44100, 44100), 2), 44100);
    const auto size = fs::file_size(in);
    const auto blocked = scratchPath("file-not-folder");
    std::ofstream(blocked) << "x";
    EXPECT_THROW(renderLimiterPass(in, blocked / "out.wav", 1.0f, 0, -10.0f, -0.2f, nullptr, nullptr), Error);
    EXPECT_EQ(fs::file_size(in), size);
}
