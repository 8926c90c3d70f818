#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace orvanta;
using namespace orvanta::test;

namespace {

std::filesystem::path ffmpegExecutable() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder) / "ffmpeg";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Encodes `wav` as AAC in M4A with the ffmpeg command line.
void makeM4A(const std::filesystem::path& wav, const std::filesystem::path& m4a,
             const std::vector<std::string>& extra = {}) {
    const auto ffmpeg = ffmpegExecutable();
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is not installed";
    std::vector<std::string> args = {"-y", "-v", "error", "-i", wav.string(), "-c:a", "aac", "-b:a", "192k"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(m4a.string());
    const auto result = runProgram(ffmpeg, args);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
}

Channels readAll(AudioFileReader& reader) {
    AudioBuffer buffer = reader.makeBuffer(uint32_t(reader.lengthFrames()));
    reader.setFramePosition(0);
    reader.read(buffer, buffer.frameCapacity());
    return fromBuffer(buffer);
}

double rmsDb(const std::vector<float>& samples, size_t from, size_t to) {
    const std::vector<float> part(samples.begin() + long(from), samples.begin() + long(to));
    return 20.0 * std::log10(rmsOf(part));
}

} // namespace

TEST(FfmpegReader, M4AHasTheSourceLengthAndSeeksFrameAccurately) {
    const size_t frames = 44100 * 3 + 777; // not a whole number of AAC frames
    const auto wav = scratchPath("song.wav");
    writeWav(wav, {sine(440, 0.5, 44100, frames), whiteNoise(0.3, frames, 7)}, 44100);
    const auto m4a = scratchPath("song.m4a");
    makeM4A(wav, m4a);

    AudioFileReader reader(m4a);
    EXPECT_EQ(reader.sampleRate(), 44100.0);
    EXPECT_EQ(reader.channelCount(), 2u);
    EXPECT_EQ(reader.lengthFrames(), int64_t(frames));

    const Channels full = readAll(reader);
    ASSERT_EQ(full[0].size(), frames);
    // The decoded sine keeps its level: the priming delay was removed, not kept as leading silence.
    EXPECT_NEAR(rmsDb(full[0], 2048, frames - 2048), 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.3);
    // Aligned with the source: the difference from the source sine is far below the sine itself.
    const Channels source = readWithSndfile(wav);
    double error = 0.0;
    for (size_t i = 1000; i < frames - 1000; ++i) error += std::pow(double(full[0][i]) - double(source[0][i]), 2.0);
    const double errorDb = 10.0 * std::log10(error / double(frames - 2000));
    EXPECT_LT(errorDb, 20.0 * std::log10(0.5 / std::sqrt(2.0)) - 30.0);

    AudioBuffer buffer = reader.makeBuffer(5000);
    for (const int64_t start : {int64_t(0), int64_t(1), int64_t(1023), int64_t(1024), int64_t(77777), int64_t(frames - 100)}) {
        reader.setFramePosition(start);
        const uint32_t got = reader.read(buffer, 5000);
        ASSERT_EQ(got, uint32_t(std::min<int64_t>(5000, int64_t(frames) - start))) << start;
        for (uint32_t c = 0; c < 2; ++c) {
            for (uint32_t i = 0; i < got; ++i) {
                ASSERT_EQ(buffer.channel(c)[i], full[c][size_t(start) + i]) << "start " << start << " frame " << i;
            }
        }
    }
    reader.setFramePosition(int64_t(frames));
    EXPECT_EQ(reader.read(buffer, 10), 0u);
}

TEST(FfmpegReader, MonoAndSixChannelFilesKeepTheirRateAndChannels) {
    struct Case {
        size_t channels;
        double rate;
    };
    for (const Case& c : {Case{1, 48000}, Case{6, 48000}, Case{2, 22050}}) {
        const size_t frames = size_t(c.rate) * 2 + 5;
        Channels source;
        // Channel 3 of six is the LFE channel, which the encoder low-passes.
        for (size_t ch = 0; ch < c.channels; ++ch) {
            source.push_back(sine(ch == 3 ? 60.0 : 300.0 + 100.0 * double(ch), 0.4, c.rate, frames));
        }
        const std::string name = "f" + std::to_string(c.channels) + "-" + std::to_string(int(c.rate));
        writeWav(scratchPath(name + ".wav"), source, c.rate, SampleFormat::pcm24);
        makeM4A(scratchPath(name + ".wav"), scratchPath(name + ".m4a"));

        AudioFileReader reader(scratchPath(name + ".m4a"));
        EXPECT_EQ(reader.channelCount(), c.channels) << name;
        EXPECT_EQ(reader.sampleRate(), c.rate) << name;
        EXPECT_EQ(reader.lengthFrames(), int64_t(frames)) << name;
        const Channels decoded = readAll(reader);
        for (size_t ch = 0; ch < c.channels; ++ch) {
            EXPECT_NEAR(rmsDb(decoded[ch], 4096, frames - 4096), rmsDb(source[ch], 4096, frames - 4096),
                        c.channels > 2 ? 1.5 : 0.5)
                << name << " channel " << ch;
        }
    }
}

TEST(FfmpegReader, RewrittenFileIsDecodedAgain) {
    const auto wav = scratchPath("a.wav");
    const auto m4a = scratchPath("a.m4a");
    writeWav(wav, {sine(440, 0.5, 44100, 44100)}, 44100);
    makeM4A(wav, m4a);
    { AudioFileReader first(m4a); EXPECT_EQ(first.lengthFrames(), 44100); }

    writeWav(wav, {sine(440, 0.5, 44100, 30000)}, 44100);
    makeM4A(wav, m4a);
    AudioFileReader second(m4a);
    EXPECT_EQ(second.lengthFrames(), 30000);
}

TEST(FfmpegReader, TextUnderAnM4ANameFailsNamingTheFile) {
    const auto path = scratchPath("notes.m4a");
    std::ofstream(path) << "These are not the droids you are looking for.\n" << std::string(5000, 'x');
    try {
        AudioFileReader reader(path);
        FAIL() << "a text file opened as audio";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(domains::audioFile, int(AudioFileErrorCode::cannotOpen)));
        EXPECT_NE(error.description().find(path.string()), std::string::npos);
        EXPECT_NE(error.description().find("could not be opened as audio"), std::string::npos);
    }
    EXPECT_FALSE(isReadableAudioFile(path));
}

TEST(FfmpegReader, TruncatedM4AFailsCleanlyOrDeliversWhatDecoded) {
    const size_t frames = 44100 * 4;
    const auto wav = scratchPath("long.wav");
    writeWav(wav, {sine(440, 0.5, 44100, frames), sine(550, 0.5, 44100, frames)}, 44100);
    // With the index at the end, a cut file has no index; with it first, the audio is cut short.
    for (const bool indexFirst : {false, true}) {
        const auto m4a = scratchPath(indexFirst ? "fast.m4a" : "plain.m4a");
        makeM4A(wav, m4a, indexFirst ? std::vector<std::string>{"-movflags", "+faststart"} : std::vector<std::string>{});
        std::string bytes;
        {
            std::ifstream in(m4a, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        const auto cut = scratchPath(indexFirst ? "fast-cut.m4a" : "plain-cut.m4a");
        std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size() / 2));
        try {
            AudioFileReader reader(cut);
            EXPECT_LE(reader.lengthFrames(), int64_t(frames));
            const Channels decoded = readAll(reader);
            EXPECT_EQ(decoded[0].size(), size_t(reader.lengthFrames()));
        } catch (const Error& error) {
            EXPECT_NE(error.description().find(cut.string()), std::string::npos) << error.what();
        }
    }
}
