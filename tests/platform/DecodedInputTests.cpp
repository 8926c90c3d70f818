// A song decoded once: readers opened on it while it is held read the same samples from memory, and
// fall back to the file whenever memory would not give exactly what the file holds.
#include "platform/AudioFileReader.h"
#include "platform/DecodedInput.h"
#include "platform/Error.h"
#include "support/DamagedFiles.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// Every sample of `path`, read in uneven pieces from a few positions as the passes read.
Channels readInPieces(const fs::path& path) {
    AudioFileReader reader(path);
    Channels out(reader.channelCount(), std::vector<float>(size_t(reader.lengthFrames())));
    AudioBuffer buffer = reader.makeBuffer(7919);
    for (int64_t done = 0; done < reader.lengthFrames();) {
        reader.setFramePosition(done);
        const uint32_t got = reader.read(buffer, 7919);
        if (got == 0) break;
        for (uint32_t c = 0; c < reader.channelCount(); ++c) std::copy_n(buffer.channel(c), got, out[c].begin() + done);
        done += got;
    }
    return out;
}

} // namespace

TEST(DecodedInput, ReadersOfAHeldSongGetTheFileSamplesFromMemory) {
    const fs::path song = writeMusic(scratchPath("song.wav"), 3.3, -12.0, 5);
    const fs::path link = scratchPath("link.wav");
    fs::create_symlink(song, link);
    const Channels fromFile = readInPieces(song);
    const DecodedInput decoded(song);
    ASSERT_TRUE(decoded.isInMemory());
    {
        const DecodedInput again(link); // the same file: shares the samples
        EXPECT_TRUE(again.isInMemory());
    }
    // The file's samples silenced behind the readers' backs, its size and time kept: the readers still
    // get the song, so they read memory, through the link too.
    const auto modified = fs::last_write_time(song);
    {
        std::fstream file(song, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(fs::file_size(song) - 4000));
        file << std::string(4000, '\0');
    }
    fs::last_write_time(song, modified);
    ASSERT_NE(readWithSndfile(song), fromFile);
    EXPECT_EQ(readInPieces(link), fromFile);
    EXPECT_EQ(AudioFileReader(link).lengthFrames(), int64_t(fromFile[0].size()));
}

// A song long enough to be decoded in halves, as PCM and as FLAC: both halves on threads of their own
// give the file's samples, as does a decoding whose parts run one after another.
TEST(DecodedInput, ASongDecodedInHalvesSideBySideHoldsTheFileSamples) {
    const fs::path wav = writeMusic(scratchPath("halves.wav"), 30.0, -10.0, 3);
    const fs::path flac = scratchPath("halves.flac");
    ASSERT_TRUE(encodeWithFfmpeg(wav, flac, {"-c:a", "flac"}));
    const DecodedInput::ForEachPart onThreads = [](uint32_t count, const std::function<void(uint32_t)>& job) {
        std::vector<std::jthread> threads;
        for (uint32_t part = 0; part < count; ++part) threads.emplace_back(job, part);
    };
    const DecodedInput::ForEachPart inTurn = [](uint32_t count, const std::function<void(uint32_t)>& job) {
        for (uint32_t part = count; part-- > 0;) job(part);
    };
    for (const fs::path& song : {wav, flac}) {
        const Channels fromFile = readWithSndfile(song);
        for (const auto* forEachPart : {&onThreads, &inTurn}) {
            uint32_t parts = 0;
            const DecodedInput decoded(song, [&](uint32_t count, const std::function<void(uint32_t)>& job) {
                parts = count;
                (*forEachPart)(count, job);
            });
            ASSERT_TRUE(decoded.isInMemory()) << song;
            EXPECT_EQ(parts, 2u) << song;
            EXPECT_EQ(readInPieces(song), fromFile) << song;
        }
    }
}

TEST(DecodedInput, AChangedFileIsReadFromTheFile) {
    const fs::path song = scratchPath("changing.wav");
    writeWav(song, replicate(sine(440.0, 0.5, 44100.0, 44100), 2), 44100.0);
    const DecodedInput decoded(song);
    ASSERT_TRUE(decoded.isInMemory());
    writeWav(song, replicate(sine(1000.0, 0.25, 44100.0, 22050), 1), 44100.0);
    const Channels now = readInPieces(song);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now, readWithSndfile(song));
}

TEST(DecodedInput, WhatCannotBeDecodedStaysWithTheReaders) {
    const fs::path text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio";
    const DecodedInput notAudio(text);
    EXPECT_FALSE(notAudio.isInMemory());
    EXPECT_THROW(AudioFileReader{text}, Error);
    const DecodedInput missing(scratchPath("missing.wav"));
    EXPECT_FALSE(missing.isInMemory());

    // Samples that are no audio are not held, so the readers meet them and refuse them as ever.
    const fs::path broken = scratchPath("broken.wav");
    std::vector<float> samples(44100, 0.25f);
    samples[30000] = std::numeric_limits<float>::quiet_NaN();
    writeWav(broken, {samples}, 44100.0);
    const DecodedInput damaged(broken);
    EXPECT_FALSE(damaged.isInMemory());
    AudioFileReader reader(broken);
    AudioBuffer buffer = reader.makeBuffer(44100);
    try {
        reader.read(buffer, 44100);
        ADD_FAILURE() << "a NaN sample was read";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is("AudioFile", int(AudioFileErrorCode::invalidSamples))) << error.description();
    }
}
