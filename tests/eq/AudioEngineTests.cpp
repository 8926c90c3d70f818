#include "eq/AudioEngine.h"
#include "eq/EQFilter.h"
#include "eq/EQSettings.h"
#include "platform/AudioFileWriter.h"
#include "platform/Error.h"
#include "support/RecordingStatusReporter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>

using namespace orvanta;
using namespace orvanta::test;

namespace {

constexpr double rate = 44100.0;
constexpr float lsb = 1.0f / 8388608.0f; // one step of 24-bit PCM

EQSettings neutralButEnabled() {
    EQSettings settings = defaultEQSettings();
    settings.isEnabled = true;
    return settings;
}

// A boost at 1 kHz, the top two bands cut far enough for the high cut, and a master gain.
EQSettings activeEQ() {
    EQSettings settings = neutralButEnabled();
    settings.bands[5].gain = 6.0f;
    settings.bands[10].gain = -6.0f;
    settings.bands[11].gain = -6.0f;
    settings.masterGain = -1.5f;
    return settings;
}

EQSettings boostAt1k() {
    EQSettings settings = neutralButEnabled();
    settings.bands[5].gain = 6.0f;
    return settings;
}

Channels stereoSine(double frequency, double amplitude, size_t frames) {
    return {sine(frequency, amplitude, rate, frames), sine(frequency, amplitude, rate, frames, 0.7)};
}

// The whole signal through a fresh filter bank in one call: what a seamless chunked render must equal.
std::filesystem::path writeSinglePassReference(const Channels& input, const EQSettings& settings,
                                               const std::string& name) {
    EQFilterBank bank;
    const AudioBuffer source = toBuffer(input, rate);
    const std::optional<AudioBuffer> processed = processWithEQ(bank, source, settings, false);
    const std::filesystem::path path = scratchPath(name);
    AudioFileWriter writer(path, source.format(), 24);
    writer.write(processed ? *processed : source);
    writer.close();
    return path;
}

struct ProgressLog {
    std::vector<double> values;
    ProgressCallback callback() {
        return [this](double value) { values.push_back(value); };
    }
};

void remaster(const std::filesystem::path& in, const std::filesystem::path& out, const EQSettings& settings,
              ProgressLog* log = nullptr) {
    NullStatusReporter status;
    AudioEngine().remasterWithEQ(in, out, settings, log ? log->callback() : ProgressCallback{}, status);
}

void correct(const std::filesystem::path& in, const std::filesystem::path& out, const EQSettings& settings,
             float sideGainDB, float wetDryMix, float preGainDB, ProgressLog* log = nullptr) {
    AudioEngine().renderCorrection(in, out, settings, log ? log->callback() : ProgressCallback{},
                                           sideGainDB, wetDryMix, preGainDB);
}

double maxDifference(const Channels& a, const Channels& b) {
    double worst = 0.0;
    for (size_t c = 0; c < a.size(); ++c) {
        for (size_t i = 0; i < a[c].size(); ++i) worst = std::max(worst, std::fabs(double(a[c][i]) - b[c][i]));
    }
    return worst;
}

Channels scaled(Channels channels, float gain) {
    for (auto& channel : channels) {
        for (float& x : channel) x *= gain;
    }
    return channels;
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

std::vector<float> tail(const std::vector<float>& samples, size_t from) {
    return std::vector<float>(samples.begin() + long(from), samples.end());
}

template <typename F>
Error errorOf(F&& render) {
    try {
        render();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "the render did not fail";
    return Error("none", 0, "");
}

} // namespace

TEST(AudioEngineRender, ChunksOf32768FramesAreSeamlessAndReportProgressOncePerChunk) {
    for (const uint32_t frames : {32768u, 32769u}) {
        SCOPED_TRACE(frames);
        const Channels input = stereoSine(1000, 0.5, frames);
        const auto in = scratchPath("in_" + std::to_string(frames) + ".wav");
        writeWav(in, input, rate, SampleFormat::pcm24);
        const size_t chunks = frames == 32768 ? 1 : 2;

        // Neutral but enabled: nothing is filtered, the 24-bit input comes out unchanged.
        ProgressLog neutralLog;
        const auto neutralOut = scratchPath("neutral.wav");
        remaster(in, neutralOut, neutralButEnabled(), &neutralLog);
        EXPECT_EQ(readWithSndfile(neutralOut), readWithSndfile(in));
        ASSERT_EQ(neutralLog.values.size(), chunks);
        EXPECT_DOUBLE_EQ(neutralLog.values.back(), 0.95);

        // An active EQ continues its state across the seam: equal to one pass over the whole signal.
        ProgressLog activeLog;
        const auto activeOut = scratchPath("active.wav");
        remaster(in, activeOut, activeEQ(), &activeLog);
        const Channels rendered = readWithSndfile(activeOut);
        ASSERT_EQ(rendered.size(), 2u);
        EXPECT_EQ(rendered[0].size(), frames);
        EXPECT_EQ(rendered, readWithSndfile(writeSinglePassReference(readWithSndfile(in), activeEQ(), "ref.wav")));
        EXPECT_EQ(activeLog.values.size(), chunks);

        ProgressLog correctionLog;
        const auto correctionOut = scratchPath("correction.wav");
        correct(in, correctionOut, activeEQ(), 0.0f, 1.0f, 0.0f, &correctionLog);
        EXPECT_EQ(readWithSndfile(correctionOut), rendered);
        ASSERT_EQ(correctionLog.values.size(), chunks);
        EXPECT_DOUBLE_EQ(correctionLog.values.back(), 1.0);
    }
}

TEST(AudioEngineRender, AnEmptyInputGivesAnEmptyFileAndNoProgress) {
    const auto in = scratchPath("empty.wav");
    writeWav(in, Channels(2), 48000, SampleFormat::pcm24);
    RecordingStatusReporter status;
    ProgressLog log;
    const auto out = scratchPath("empty_final.wav");
    AudioEngine().remasterWithEQ(in, out, activeEQ(), log.callback(), status);
    double outRate = 0;
    const Channels rendered = readWithSndfile(out, &outRate);
    EXPECT_EQ(outRate, 48000);
    ASSERT_EQ(rendered.size(), 2u);
    EXPECT_TRUE(rendered[0].empty());
    EXPECT_TRUE(log.values.empty());
    EXPECT_TRUE(status.calls().empty());

    const auto corrected = scratchPath("empty_analyzer_eq.wav");
    correct(in, corrected, activeEQ(), 2.0f, 0.6f, -7.0f, &log);
    EXPECT_EQ(readWithSndfile(corrected).size(), 2u);
    EXPECT_TRUE(log.values.empty());
}

TEST(AudioEngineRender, DisabledEQCopiesTheAudioAsTwentyFourBitPCM) {
    // Three channels at an unusual rate: the output keeps both.
    const size_t frames = 70000;
    const Channels input = {whiteNoise(0.9, frames, 1), whiteNoise(0.9, frames, 2), sine(440, 0.3, 22050, frames)};
    const auto in = scratchPath("float_in.wav");
    writeWav(in, input, 22050, SampleFormat::float32);
    EQSettings settings = activeEQ();
    settings.isEnabled = false;
    const auto out = scratchPath("copy.wav");
    remaster(in, out, settings);

    double outRate = 0;
    const Channels copy = readWithSndfile(out, &outRate);
    EXPECT_EQ(outRate, 22050);
    ASSERT_EQ(copy.size(), 3u);
    for (size_t c = 0; c < 3; ++c) {
        ASSERT_EQ(copy[c].size(), frames);
        for (size_t i = 0; i < frames; ++i) {
            const double steps = double(copy[c][i]) * 8388608.0;
            ASSERT_EQ(steps, std::round(steps)) << "not a 24-bit value at " << c << "/" << i;
            ASSERT_LE(std::fabs(copy[c][i] - input[c][i]), lsb) << c << "/" << i;
        }
    }
    // A second copy of the 24-bit result changes nothing.
    const auto again = scratchPath("copy2.wav");
    remaster(out, again, settings);
    EXPECT_EQ(readWithSndfile(again), copy);
}

TEST(AudioEngineRender, ProgressStaysBelowTheCallersShareAndFinalPolishComesPastHalfway) {
    const uint32_t frames = 4 * AudioEngine::chunkFrames;
    const auto in = scratchPath("four_chunks.wav");
    writeWav(in, stereoSine(220, 0.4, frames), rate);
    RecordingStatusReporter status;
    std::vector<double> progress;
    std::vector<size_t> stagesBefore; // status calls already made when each progress value arrived
    AudioEngine().remasterWithEQ(
        in, scratchPath("out.wav"), activeEQ(),
        [&](double value) {
            progress.push_back(value);
            stagesBefore.push_back(status.calls().size());
        },
        status);

    ASSERT_EQ(progress.size(), 4u);
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_LE(progress[i], 0.95);
        if (i > 0) {
            EXPECT_GE(progress[i], progress[i - 1]);
        }
    }
    EXPECT_DOUBLE_EQ(progress.back(), 0.95);
    // Fractions 0.25 and 0.5 stay quiet; 0.75 and 1 each announce the final polish.
    EXPECT_EQ(stagesBefore, (std::vector<size_t>{0, 0, 0, 1}));
    const auto calls = status.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.kind, "stage");
        EXPECT_EQ(call.stage, ProcessingStage::finalPolish);
        EXPECT_EQ(call.first, "Applying final EQ curve...");
        EXPECT_EQ(call.second, "");
    }
}

TEST(AudioEngineCorrection, PreGainOnlyAttenuatesBelowAHundredthOfADecibel) {
    const auto in = scratchPath("in.wav");
    writeWav(in, stereoSine(1000, 0.5, 50000), rate, SampleFormat::pcm24);
    const Channels input = readWithSndfile(in);
    EQSettings off = defaultEQSettings();

    for (const float preGainDB : {3.0f, -0.005f}) {
        SCOPED_TRACE(preGainDB);
        const auto out = scratchPath("untouched.wav");
        correct(in, out, off, 0.0f, 1.0f, preGainDB);
        EXPECT_EQ(readWithSndfile(out), input);
    }
    const auto out = scratchPath("attenuated.wav");
    correct(in, out, off, 0.0f, 1.0f, -0.02f);
    const Channels attenuated = readWithSndfile(out);
    EXPECT_LE(maxDifference(attenuated, scaled(input, std::pow(10.0f, -0.02f / 20.0f))), lsb);
    EXPECT_NEAR(db(rmsOf(attenuated[0]) / rmsOf(input[0])), -0.02, 0.001);
}

TEST(AudioEngineCorrection, WetDryBlendsAgainstThePreGainedChunk) {
    const auto in = scratchPath("in.wav");
    writeWav(in, stereoSine(1000, 0.25, 40000), rate, SampleFormat::pcm24);
    const float preGainDB = -6.0f;
    const Channels dry = scaled(readWithSndfile(in), std::pow(10.0f, preGainDB / 20.0f));

    const auto wetOut = scratchPath("wet.wav");
    correct(in, wetOut, boostAt1k(), 0.0f, 1.0f, preGainDB);
    const Channels wet = readWithSndfile(wetOut);
    EXPECT_NEAR(db(rmsOf(tail(wet[0], 4410)) / rmsOf(tail(dry[0], 4410))), 6.0, 0.1);

    const auto nearlyWet = scratchPath("wet999.wav");
    correct(in, nearlyWet, boostAt1k(), 0.0f, 0.999f, preGainDB);
    EXPECT_EQ(readWithSndfile(nearlyWet), wet);

    const auto halfOut = scratchPath("half.wav");
    correct(in, halfOut, boostAt1k(), 0.0f, 0.5f, preGainDB);
    Channels mean = wet;
    for (size_t c = 0; c < mean.size(); ++c) {
        for (size_t i = 0; i < mean[c].size(); ++i) mean[c][i] = 0.5f * wet[c][i] + 0.5f * dry[c][i];
    }
    EXPECT_LE(maxDifference(readWithSndfile(halfOut), mean), 2 * lsb);

    const auto dryOut = scratchPath("dry.wav");
    correct(in, dryOut, boostAt1k(), 0.0f, -1.0f, preGainDB);
    EXPECT_LE(maxDifference(readWithSndfile(dryOut), dry), lsb);
}

TEST(AudioEngineSideGain, LeavesMonoAndCentredSignalsAndSmallGainsAlone) {
    const std::vector<float> tone = sine(5000, 0.5, rate, 8192);
    AudioBuffer mono = toBuffer({tone}, rate);
    applySideGain(mono, 6.0f, rate);
    EXPECT_EQ(fromBuffer(mono), Channels{tone});

    AudioBuffer centred = toBuffer({tone, tone}, rate);
    applySideGain(centred, 6.0f, rate);
    EXPECT_EQ(fromBuffer(centred), (Channels{tone, tone}));

    std::vector<float> inverted = tone;
    for (float& x : inverted) x = -x;
    AudioBuffer wide = toBuffer({tone, inverted}, rate);
    applySideGain(wide, 0.01f, rate);
    EXPECT_EQ(fromBuffer(wide), (Channels{tone, inverted}));
    applySideGain(wide, 0.011f, rate);
    EXPECT_NE(fromBuffer(wide), (Channels{tone, inverted}));
}

TEST(AudioEngineSideGain, ScalesHighSideContentAndBarelyTouchesLowSideContent) {
    const size_t frames = 44100;
    const size_t settle = 4410; // the one-pole split starts from zero
    for (const auto& [frequency, expectedDB, tolerance] :
         {std::tuple{5000.0, 6.0, 0.1}, std::tuple{30.0, 0.0, 0.3}}) {
        SCOPED_TRACE(frequency);
        const std::vector<float> left = sine(frequency, 0.4, rate, frames);
        std::vector<float> right = left;
        for (float& x : right) x = -x;
        const std::vector<float> third = sine(700, 0.2, rate, frames);
        AudioBuffer buffer = toBuffer({left, right, third}, rate);
        applySideGain(buffer, 6.0f, rate);
        const Channels out = fromBuffer(buffer);
        EXPECT_NEAR(db(rmsOf(tail(out[0], settle)) / rmsOf(tail(left, settle))), expectedDB, tolerance);
        for (size_t i = 0; i < frames; ++i) ASSERT_EQ(out[0][i], -out[1][i]) << "the mid must stay zero";
        EXPECT_EQ(out[2], third);
    }
}

TEST(AudioEngineCorrection, SideGainIsBlendedEvenWithoutAnEQCopy) {
    // With a flat EQ there is no filtered copy; the blend must still mix the widened signal with the
    // unwidened one instead of with itself.
    const size_t frames = 44100;
    const std::vector<float> left = sine(5000, 0.4, rate, frames);
    std::vector<float> right = left;
    for (float& x : right) x = -x;
    const auto in = scratchPath("wide.wav");
    writeWav(in, {left, right}, rate, SampleFormat::pcm24);
    const Channels input = readWithSndfile(in);

    for (const EQSettings& settings : {defaultEQSettings(), neutralButEnabled()}) {
        const auto out = scratchPath("blended.wav");
        correct(in, out, settings, 6.0f, 0.5f, 0.0f);
        const Channels blended = readWithSndfile(out);
        const double fullGain = std::pow(10.0, 6.0 / 20.0);
        EXPECT_NEAR(db(rmsOf(tail(blended[0], 4410)) / rmsOf(tail(input[0], 4410))), db(0.5 * fullGain + 0.5),
                    0.1);
    }
}

TEST(AudioEngineCorrection, MixWetDryClampsAndUsesTheCommonPart) {
    AudioBuffer wet = toBuffer({{1, 1, 1}, {1, 1, 1}}, rate);
    const AudioBuffer dry = toBuffer({{0, 0}}, rate);
    mixWetDry(wet, dry, 0.25f);
    EXPECT_EQ(fromBuffer(wet), (Channels{{0.25f, 0.25f, 1}, {1, 1, 1}}));
    mixWetDry(wet, dry, 2.0f);
    EXPECT_EQ(fromBuffer(wet), (Channels{{0.25f, 0.25f, 1}, {1, 1, 1}}));
    mixWetDry(wet, dry, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(fromBuffer(wet), (Channels{{0, 0, 1}, {1, 1, 1}}));
}

TEST(AudioEngineRender, BadInputsAndDestinationsFailClearlyAndLeaveNoOutput) {
    const auto good = scratchPath("good.wav");
    writeWav(good, stereoSine(1000, 0.5, 10000), rate, SampleFormat::pcm24);
    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "these are not samples\n";
    const auto blocker = scratchPath("plain_file");
    std::ofstream(blocker) << "x";

    struct Case {
        std::filesystem::path in, out;
        AudioFileErrorCode code;
    };
    const std::vector<Case> cases = {
        {scratchPath("missing.wav"), scratchPath("o1.wav"), AudioFileErrorCode::cannotOpen},
        {text, scratchPath("o2.wav"), AudioFileErrorCode::cannotOpen},
        {good, scratchPath("no_such_folder") / "o3.wav", AudioFileErrorCode::cannotCreate},
        {good, blocker / "o4.wav", AudioFileErrorCode::cannotCreate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.string() + " -> " + c.out.string());
        for (const bool analyzer : {false, true}) {
            const Error error = errorOf([&] {
                if (analyzer) correct(c.in, c.out, activeEQ(), 1.0f, 0.6f, -7.0f);
                else remaster(c.in, c.out, activeEQ());
            });
            EXPECT_TRUE(error.is(domains::audioFile, int(c.code))) << error.what();
            EXPECT_FALSE(error.description().empty());
            EXPECT_FALSE(std::filesystem::exists(c.out));
        }
    }

    // An unreadable input leaves an existing output as it was.
    const auto existing = scratchPath("existing.wav");
    std::ofstream(existing) << "keep me";
    EXPECT_THROW(remaster(text, existing, activeEQ()), Error);
    EXPECT_EQ(std::filesystem::file_size(existing), 7u);
}

TEST(AudioEngineRender, RenderingAFileOntoItselfIsRefusedAndKeepsIt) {
    const auto song = scratchPath("song_final.wav");
    writeWav(song, stereoSine(1000, 0.5, 40000), rate, SampleFormat::pcm24);
    const Channels before = readWithSndfile(song);
    const Error error = errorOf([&] { remaster(song, song, activeEQ()); });
    EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::cannotCreate))) << error.what();
    const Error again = errorOf([&] { correct(song, scratchPath(".") / "song_final.wav", activeEQ(), 0, 1, 0); });
    EXPECT_TRUE(again.is(domains::audioFile, int(AudioFileErrorCode::cannotCreate))) << again.what();
    EXPECT_EQ(readWithSndfile(song), before);
}

TEST(AudioEngineRender, AWriteFailureMidwayRemovesThePartialOutput) {
    const auto in = scratchPath("long.wav");
    writeWav(in, stereoSine(1000, 0.5, 4 * 44100), rate, SampleFormat::pcm24);
    const auto out = scratchPath("long_final.wav");

    // Cap the size of files this process may write, so the render fails after its first chunks.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = previous;
    capped.rlim_cur = 400 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    ProgressLog log;
    const Error error = errorOf([&] { remaster(in, out, activeEQ(), &log); });
    const Error correctionError = errorOf([&] { correct(in, out, activeEQ(), 1.0f, 0.6f, -7.0f); });
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::writeFailed))) << error.what();
    EXPECT_TRUE(correctionError.is(domains::audioFile, int(AudioFileErrorCode::writeFailed)))
        << correctionError.what();
    EXPECT_FALSE(log.values.empty()); // it did fail midway, not at the start
    EXPECT_FALSE(std::filesystem::exists(out));
}
