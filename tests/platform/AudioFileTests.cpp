#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/ChannelLayout.h"
#include "platform/Error.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

using namespace orvanta;
using namespace orvanta::test;

namespace {

Channels readAll(const std::filesystem::path& path) {
    AudioFileReader reader(path);
    AudioBuffer buffer = reader.makeBuffer(uint32_t(reader.lengthFrames()));
    reader.read(buffer, buffer.frameCapacity());
    return fromBuffer(buffer);
}

// FFmpeg's name for the file's channel layout ("5.1", "unknown", ...), empty when ffprobe cannot run.
std::string ffprobeLayout(const std::filesystem::path& path) {
    const auto result = runProgram("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "stream=channel_layout",
                                                        "-of", "default=noprint_wrappers=1:nokey=1", path.string()});
    std::string layout = result.exitStatus == 0 ? result.standardOutput : "";
    while (!layout.empty() && (layout.back() == '\n' || layout.back() == '\r')) layout.pop_back();
    return layout;
}

std::string firstFourBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    return head;
}

} // namespace

TEST(AudioFileReader, ReportsFormatLengthAndSeeksFrameAccurately) {
    const auto path = scratchPath("ramp.wav");
    std::vector<float> ramp(48000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i) / 65536.0f;
    writeWav(path, {ramp, sine(440, 0.5, 48000, ramp.size())}, 48000);

    AudioFileReader reader(path);
    EXPECT_EQ(reader.sampleRate(), 48000.0);
    EXPECT_EQ(reader.channelCount(), 2u);
    EXPECT_EQ(reader.lengthFrames(), 48000);

    AudioBuffer buffer = reader.makeBuffer(100);
    reader.setFramePosition(12345);
    ASSERT_EQ(reader.read(buffer, 100), 100u);
    EXPECT_FLOAT_EQ(buffer.channel(0)[0], 12345.0f / 65536.0f);
    EXPECT_FLOAT_EQ(buffer.channel(0)[99], 12444.0f / 65536.0f);
    EXPECT_EQ(reader.framePosition(), 12445);

    reader.setFramePosition(47990);
    EXPECT_EQ(reader.read(buffer, 100), 10u);
    EXPECT_EQ(buffer.frameLength(), 10u);
    EXPECT_EQ(reader.read(buffer, 100), 0u);
}

TEST(AudioFileReader, RefusesSamplesThatAreNoAudioWhenRead) {
    // NaN, infinities and a float file at +354 dBFS; +59 dBFS is loud but still audio.
    struct Case {
        float value;
        const char* expected;
    };
    const Case cases[] = {{std::numeric_limits<float>::quiet_NaN(), "not numbers (NaN) at 0.50 s in channel 2"},
                          {-std::numeric_limits<float>::infinity(), "not numbers (infinite) at 0.50 s in channel 2"},
                          {5.0e17f, "+354.0 dBFS at 0.50 s in channel 2"}};
    for (const Case& c : cases) {
        std::vector<float> broken(44100, 0.25f);
        broken[22050] = c.value;
        const auto path = scratchPath("broken.wav");
        writeWav(path, {std::vector<float>(44100, 0.25f), broken}, 44100);
        AudioFileReader reader(path);
        AudioBuffer buffer = reader.makeBuffer(44100);
        try {
            reader.read(buffer, 44100);
            ADD_FAILURE() << c.expected;
        } catch (const Error& error) {
            EXPECT_TRUE(error.is("AudioFile", int(AudioFileErrorCode::invalidSamples))) << error.description();
            EXPECT_NE(error.description().find(c.expected), std::string::npos) << error.description();
            EXPECT_NE(error.description().find("broken.wav"), std::string::npos);
        }
    }
    const auto loud = scratchPath("loud.wav");
    writeWav(loud, {std::vector<float>(100, 891.0f)}, 44100);
    EXPECT_EQ(readAll(loud)[0][99], 891.0f);
}

TEST(AudioFileReader, RefusesBadInputWithErrorsNamingTheFile) {
    const auto missing = scratchPath("missing.wav");
    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "this is not audio, only text pretending to be a WAV file\n";
    const auto truncated = scratchPath("truncated.wav");
    writeWav(scratchPath("whole.wav"), {sine(1000, 0.5, 44100, 44100)}, 44100);
    {
        std::ifstream in(scratchPath("whole.wav"), std::ios::binary);
        std::vector<char> head(30);
        in.read(head.data(), std::streamsize(head.size()));
        std::ofstream(truncated, std::ios::binary).write(head.data(), std::streamsize(head.size()));
    }

    for (const auto& path : {missing, text, truncated, scratchDirectory()}) {
        try {
            AudioFileReader reader(path);
            FAIL() << "opened " << path;
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "AudioFile");
            EXPECT_EQ(error.code(), int(AudioFileErrorCode::cannotOpen));
            EXPECT_NE(error.description().find(path.string()), std::string::npos) << error.description();
        }
        EXPECT_FALSE(isReadableAudioFile(path));
    }
}

TEST(AudioFileWriter, RoundTripKeepsSamplesWithin24BitRounding) {
    const auto path = scratchPath("roundtrip.wav");
    const auto left = sine(1000, 0.9, 44100, 10000);
    const auto right = whiteNoise(0.7, 10000, 3);
    {
        AudioFileWriter writer(path, {44100, 2});
        writer.write(toBuffer({left, right}, 44100));
        writer.close();
    }
    double rate = 0;
    const auto back = readWithSndfile(path, &rate);
    EXPECT_EQ(rate, 44100);
    ASSERT_EQ(back.size(), 2u);
    ASSERT_EQ(back[0].size(), left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        ASSERT_NEAR(back[0][i], left[i], 1.0 / 8388608.0 + 1e-9);
        ASSERT_NEAR(back[1][i], right[i], 1.0 / 8388608.0 + 1e-9);
    }
    {
        AudioFileReader reader(path);
        EXPECT_EQ(reader.lengthFrames(), 10000);
    }
}

TEST(AudioFileWriter, ClipsBeyondFullScaleInsteadOfWrapping) {
    const auto path = scratchPath("clip.wav");
    {
        AudioFileWriter writer(path, {48000, 1});
        writer.write(toBuffer({{1.5f, -3.0f, 1.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}}, 48000));
        writer.close();
    }
    const auto back = readWithSndfile(path);
    EXPECT_GT(back[0][0], 0.999f);
    EXPECT_LE(back[0][0], 1.0f);
    EXPECT_LT(back[0][1], -0.999f);
    EXPECT_GT(back[0][2], 0.999f);
    EXPECT_LT(back[0][3], -0.999f);
    EXPECT_EQ(back[0][4], 0.0f);
}

TEST(AudioFileWriter, UnwritableDestinationFailsWithClearError) {
    try {
        AudioFileWriter writer(scratchPath("no/such/folder/out.wav"), {44100, 2});
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), int(AudioFileErrorCode::cannotCreate));
        EXPECT_NE(error.description().find("out.wav"), std::string::npos);
    }
}

// RF64 is always WAVE_FORMAT_EXTENSIBLE. Six or eight channels that name no positions must come back
// naming none (read as 5.1, their third and fourth channels would be weighed as centre and LFE), while
// a layout the input had is kept. The length promised makes the writer choose RF64 for a short file.
TEST(AudioFileWriter, Rf64KeepsALayoutAndInventsNone) {
    constexpr int64_t pastFourGib = int64_t(1) << 30;
    const uint64_t sideFiveOne = speaker::frontLeft | speaker::frontRight | speaker::frontCentre |
                                 speaker::lowFrequency | speaker::sideLeft | speaker::sideRight;
    struct Case {
        uint32_t channels;
        uint64_t mask;
    };
    for (const Case& c : {Case{6, 0}, Case{8, 0}, Case{4, 0}, Case{6, sideFiveOne}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, mask " + std::to_string(c.mask));
        const auto path = scratchPath("rf64-" + std::to_string(c.channels) + "-" + std::to_string(c.mask) + ".wav");
        Channels channels;
        for (uint32_t ch = 0; ch < c.channels; ++ch) channels.push_back(whiteNoise(0.1 * (ch + 1), 4800, ch + 1));
        {
            AudioFileWriter writer(path, {48000, c.channels, c.mask}, 24, pastFourGib);
            writer.write(toBuffer(channels, 48000));
            writer.close();
        }
        ASSERT_EQ(firstFourBytes(path), "RF64");
        AudioFileReader reader(path);
        EXPECT_EQ(reader.processingFormat().channelMask, c.mask);
        const std::string layout = ffprobeLayout(path);
        if (!layout.empty() && c.mask == 0) EXPECT_EQ(layout, "unknown");
        if (!layout.empty() && c.mask != 0) EXPECT_EQ(layout, "5.1(side)");
        const Channels back = readAll(path);
        ASSERT_EQ(back.size(), channels.size());
        for (size_t ch = 0; ch < back.size(); ++ch) {
            ASSERT_EQ(back[ch].size(), channels[ch].size());
            EXPECT_NEAR(back[ch][100], channels[ch][100], 1.0 / 8388608.0 + 1e-9);
        }
    }
}
