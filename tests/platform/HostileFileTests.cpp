// Hostile outputs and names at the platform layer, on real files: what a result may not be written
// into, names at the file system's limit, a disk that fills up, and decoder libraries that would
// print on their own. (Special files as inputs and outputs, missing and read-only folders are tested
// end to end in tests/cli.)
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/OutputDestination.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

void expectRefused(const std::function<void()>& attempt, const std::string& expectedText) {
    try {
        attempt();
        ADD_FAILURE() << "accepted; expected \"" << expectedText << "\"";
    } catch (const Error& error) {
        EXPECT_NE(error.description().find(expectedText), std::string::npos) << error.description();
    }
}

} // namespace

TEST(LongNames, TemporaryNamesBesideALongNameStayWithinTheLimitAndWholeUtf8) {
    std::string accented; // é is two bytes: a cut in the wrong place would split one
    while (accented.size() + 6 <= 255) accented += "\xC3\xA9";
    for (const std::string& name : {std::string(249, 'a') + ".wav", std::string(255, 'b'), accented + ".wav"}) {
        const fs::path temporary = siblingTemporaryPath(scratchPath(name));
        EXPECT_NE(temporary, siblingTemporaryPath(scratchPath(name)));
        std::ofstream(temporary) << "x"; // the file system takes it
        ASSERT_TRUE(fs::exists(temporary)) << temporary;
        const std::string made = temporary.filename().string();
        const size_t prefixEnd = made.find(".partial-");
        ASSERT_NE(prefixEnd, std::string::npos);
        EXPECT_NE(static_cast<unsigned char>(made[prefixEnd - 1]), 0xC3) << "a character was cut in two";
        fs::remove(temporary);
    }
    const fs::path source = writeMusic(scratchPath("source.wav"), 0.5);
    const fs::path longName = scratchPath(std::string(245, 'c') + ".wav");
    checkOutputDestination(longName);
    ASSERT_TRUE(publishFile(source, longName));
    EXPECT_EQ(contentsOf(longName), contentsOf(source));
    expectRefused([&] { checkOutputDestination(scratchPath(std::string(256, 'd'))); }, "File name too long");
}

TEST(OutputDestinations, WhatCannotTakeAResultIsRefusedBeforeAnyWork) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 0.2);
    expectRefused([&] { checkOutputDestination(source / "out.wav"); }, "not a folder");
    expectRefused([&] { publishFile(source, scratchDirectory()); }, "is a folder");
    const fs::path socketPath = scratchPath("out.sock");
    const UnixSocket socket(socketPath);
    expectRefused([&] { checkOutputDestination(socketPath); }, "is a socket");
    const fs::path disk = scratchPath("disk");
    if (makeDeviceNode(disk, 7, 0, true)) {
        expectRefused([&] { publishFile(source, disk); }, "is a block device");
    }
    EXPECT_TRUE(fs::is_directory(scratchDirectory()));
}

TEST(OutputDestinations, AFullDiskOrACancelKeepsTheOldFileAndLeavesNoPartial) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 20.0); // about 7 MB
    const fs::path existing = scratchPath("existing.wav");
    std::ofstream(existing) << "an older export";
    int asked = 0;
    EXPECT_FALSE(publishFile(source, existing, [&] { return ++asked > 2; }));
    EXPECT_EQ(contentsOf(existing), "an older export");
    EXPECT_FALSE(hasPartialFiles(scratchDirectory()));

    const SmallFileSystem small(scratchPath("small"), 1 << 20);
    if (!small.mounted()) GTEST_SKIP() << small.failure();
    const fs::path kept = scratchPath("small") / "kept.wav";
    std::ofstream(kept) << "an older export";
    expectRefused([&] { publishFile(source, kept); }, "No space left on device");
    EXPECT_EQ(contentsOf(kept), "an older export");
    EXPECT_FALSE(hasPartialFiles(scratchPath("small")));
}

TEST(DecoderLogs, DamagedMpegAndAbsurdHeadersFailOrDecodeWithoutPrinting) {
    const fs::path mp3 = scratchPath("tone.mp3");
    ASSERT_EQ(std::system(("/usr/bin/ffmpeg -v quiet -f lavfi -i sine=d=1 -y '" + mp3.string() + "'").c_str()), 0);
    std::string junk(20000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = char((i * 7919u) >> 3);
    const fs::path damaged = scratchPath("damaged.mp3"); // a good stream, then garbage
    std::ofstream(damaged, std::ios::binary) << contentsOf(mp3) << junk;
    const fs::path garbage = scratchPath("garbage.mp3");
    std::ofstream(garbage, std::ios::binary) << "ID3" << junk;
    const fs::path absurd = scratchPath("absurd.wav"); // its header claims 65535 channels
    writeWav(absurd, {sine(440.0, 0.1, 8000.0, 800)}, 8000.0, SampleFormat::pcm16);
    {
        std::fstream header(absurd, std::ios::in | std::ios::out | std::ios::binary);
        header.seekp(22);
        header.put(char(0xFF)).put(char(0xFF));
    }

    testing::internal::CaptureStderr();
    {
        AudioFileReader reader(damaged);
        AudioBuffer buffer = reader.makeBuffer(4096);
        while (reader.read(buffer, 4096) > 0) {
        }
    }
    EXPECT_THROW(AudioFileReader{garbage}, Error);
    std::string absurdReason;
    try {
        AudioFileReader reader(absurd);
    } catch (const Error& error) {
        absurdReason = error.description();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a library printed on its own";
    EXPECT_NE(absurdReason.find("Too many channels"), std::string::npos) << "FFmpeg's reason: " << absurdReason;
}

// A run's own result is moved into a file, never into a device, and a refused move loses nothing.
TEST(OutputDestinations, AConsumedResultIsMovedIntoAFileAndCopiedIntoADevice) {
    const fs::path source = writeMusic(scratchPath("result.wav"), 0.3);
    const std::string bytes = contentsOf(source);
    const fs::path existing = scratchPath("existing.wav");
    std::ofstream(existing) << "an older result";
    ASSERT_TRUE(publishFileConsuming(source, existing));
    EXPECT_EQ(contentsOf(existing), bytes);
    EXPECT_FALSE(fs::exists(source));

    ASSERT_TRUE(publishFileConsuming(existing, "/dev/null"));
    EXPECT_EQ(contentsOf(existing), bytes); // a device gets a copy; the result stays
    expectRefused([&] { publishFileConsuming(existing, scratchDirectory()); }, "is a folder");
    EXPECT_EQ(contentsOf(existing), bytes);
}
