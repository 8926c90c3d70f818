// Hostile inputs and outputs at the platform layer, on real special files: what the reader refuses
// before opening, what a result may be written into, names at the file system's limit, and decoder
// libraries that would print on their own.
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/OutputDestination.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// The AudioFile error that opening `path` raises; fails the test when it opens, and when opening
// takes longer than a few seconds (a named pipe that blocks; it is then written to, to free the
// reader).
std::optional<Error> openingError(const fs::path& path) {
    auto opening = std::async(std::launch::async, [path]() -> std::optional<Error> {
        try {
            AudioFileReader reader(path);
            return std::nullopt;
        } catch (const Error& error) {
            return error;
        }
    });
    if (opening.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "opening " << path << " blocked";
        const int unblock = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (unblock >= 0) ::close(unblock);
    }
    return opening.get();
}

bool isCharacterDevice(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::vector<std::string> partialFilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".partial-") != std::string::npos)
            names.push_back(entry.path().filename().string());
    return names;
}

void expectRefused(const std::function<void()>& attempt, const std::string& expectedText) {
    try {
        attempt();
        ADD_FAILURE() << "accepted; expected \"" << expectedText << "\"";
    } catch (const Error& error) {
        EXPECT_NE(error.description().find(expectedText), std::string::npos) << error.description();
    }
}

} // namespace

// --- Special files as inputs ---------------------------------------------------------------------

TEST(SpecialInputs, OnlyRegularFilesAreOpenedAndAPipeNeverBlocks) {
    const fs::path song = writeMusic(scratchPath("song.wav"), 1.0);
    const fs::path pipe = scratchPath("pipe.wav");
    makeNamedPipe(pipe);
    const fs::path folder = scratchPath("folder.wav");
    fs::create_directories(folder);
    const fs::path socketPath = scratchPath("sock.wav");
    const UnixSocket socket(socketPath);
    const fs::path linkToSong = scratchPath("link.wav");
    fs::create_symlink(song, linkToSong);
    const fs::path linkToPipe = scratchPath("pipe-link.wav");
    fs::create_symlink(pipe, linkToPipe);

    const std::vector<std::pair<fs::path, std::string>> refused = {
        {pipe, "is a named pipe (FIFO), not an audio file"},
        {linkToPipe, "is a named pipe (FIFO), not an audio file"},
        {folder, "is a folder, not an audio file"},
        {socketPath, "is a socket, not an audio file"},
        {"/dev/null", "is a character device, not an audio file"},
    };
    for (const auto& [path, text] : refused) {
        const std::optional<Error> error = openingError(path);
        ASSERT_TRUE(error.has_value()) << path << " opened";
        EXPECT_TRUE(error->is(domains::audioFile, int(AudioFileErrorCode::cannotOpen))) << error->what();
        EXPECT_NE(error->description().find(text), std::string::npos) << error->description();
        EXPECT_NE(error->description().find(path.string()), std::string::npos) << error->description();
    }
    EXPECT_FALSE(openingError(linkToSong).has_value()) << "a link to a regular file is read as the file";
}

TEST(SpecialInputs, ChannelCountsPastThirtyTwoAreRefusedNamingTheCount) {
    for (const size_t channels : {32u, 33u, 1000u}) {
        const fs::path file = scratchPath("ch" + std::to_string(channels) + ".wav");
        writeWav(file, Channels(channels, sine(440.0, 0.1, 8000.0, 800)), 8000.0, SampleFormat::pcm16);
        const std::optional<Error> error = openingError(file);
        if (channels == 32) {
            EXPECT_FALSE(error.has_value()) << error->what();
            continue;
        }
        ASSERT_TRUE(error.has_value());
        EXPECT_TRUE(error->is(domains::audioFile, int(AudioFileErrorCode::unsupportedFormat)));
        EXPECT_NE(error->description().find("has " + std::to_string(channels) + " channels, at most 32 are supported"),
                  std::string::npos)
            << error->description();
    }
}

// --- Names at the file system's limit --------------------------------------------------------------

TEST(LongNames, TemporaryNamesBesideALongNameStayWithinTheLimitAndUnique) {
    const std::string accented = "\xC3\xA9"; // é, two bytes
    std::string multibyte;
    while (multibyte.size() + accented.size() + 4 <= 255) multibyte += accented;
    for (const std::string& name : {std::string(249, 'a') + ".wav", std::string(255, 'b'), multibyte + ".wav"}) {
        const fs::path target = scratchPath(name);
        const fs::path first = siblingTemporaryPath(target);
        const fs::path second = siblingTemporaryPath(target);
        EXPECT_NE(first, second);
        EXPECT_EQ(first.parent_path(), target.parent_path());
        EXPECT_LE(first.filename().string().size(), 255u);
        EXPECT_EQ(first.filename().string().front(), '.');
        // A real file can be made under it, and its name is still whole UTF-8.
        std::ofstream(first) << "x";
        EXPECT_TRUE(fs::exists(first)) << first;
        const std::string made = first.filename().string();
        for (size_t i = 0; i < made.size(); ++i) {
            if ((static_cast<unsigned char>(made[i]) & 0xE0) == 0xC0) {
                ASSERT_LT(i + 1, made.size());
                EXPECT_EQ(static_cast<unsigned char>(made[i + 1]) & 0xC0, 0x80) << "a character was cut in two";
            }
        }
        fs::remove(first);
    }

    // A whole result goes under a 249-character name.
    const fs::path source = writeMusic(scratchPath("source.wav"), 0.5);
    const fs::path longName = scratchPath(std::string(245, 'c') + ".wav");
    checkOutputDestination(longName);
    ASSERT_TRUE(publishFile(source, longName));
    EXPECT_EQ(contentsOf(longName), contentsOf(source));
    EXPECT_TRUE(partialFilesIn(scratchDirectory()).empty());
    // One byte past the limit is refused before any work, naming the limit.
    expectRefused([&] { checkOutputDestination(scratchPath(std::string(256, 'd'))); }, "File name too long");
}

// --- Special files as outputs ----------------------------------------------------------------------

TEST(OutputDestinations, MissingFoldersFoldersAndDisksAreRefusedBeforeAnyWork) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 0.2);
    expectRefused([&] { checkOutputDestination(scratchPath("no-folder") / "out.wav"); }, "does not exist");
    expectRefused([&] { checkOutputDestination(source / "out.wav"); }, "not a folder");
    expectRefused([&] { checkOutputDestination(scratchDirectory()); }, "is a folder");
    const fs::path socketPath = scratchPath("out.sock");
    const UnixSocket socket(socketPath);
    expectRefused([&] { checkOutputDestination(socketPath); }, "is a socket");
    expectRefused([&] { publishFile(source, scratchDirectory()); }, "is a folder");
    EXPECT_TRUE(fs::is_directory(scratchDirectory()));

    const fs::path disk = scratchPath("disk");
    if (makeDeviceNode(disk, 7, 0, true)) {
        expectRefused([&] { checkOutputDestination(disk); }, "is a block device");
        expectRefused([&] { publishFile(source, disk); }, "is a block device");
    }
    {
        const SmallFileSystem readOnly(scratchPath("read-only"), 1 << 20, true);
        if (!readOnly.mounted()) GTEST_SKIP() << readOnly.failure();
        expectRefused([&] { checkOutputDestination(scratchPath("read-only") / "out.wav"); }, "Read-only file system");
    }
}

TEST(OutputDestinations, DevicesAreWrittenIntoNeverReplaced) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 0.5);
    const fs::path null = scratchPath("null");
    const fs::path full = scratchPath("full");
    if (!makeDeviceNode(null, 1, 3) || !makeDeviceNode(full, 1, 7)) {
        GTEST_SKIP() << "device nodes cannot be made here (needs root)";
    }
    checkOutputDestination(null);
    EXPECT_TRUE(publishFile(source, null));
    EXPECT_TRUE(isCharacterDevice(null)) << "the null device was replaced";

    checkOutputDestination(full);
    try {
        publishFile(source, full);
        ADD_FAILURE() << "writing into the full device succeeded";
    } catch (const Error& error) {
        EXPECT_TRUE(error.is(domains::fileSystem, int(FileSystemErrorCode::writeFailed)));
        EXPECT_NE(error.description().find("No space left on device"), std::string::npos) << error.description();
    }
    EXPECT_TRUE(isCharacterDevice(full)) << "the full device was replaced";
    EXPECT_TRUE(partialFilesIn(scratchDirectory()).empty());
}

TEST(OutputDestinations, APipeGetsEveryByteOrAClearErrorWithoutAReader) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 2.0); // larger than a pipe's buffer
    const fs::path pipe = scratchPath("out.pipe");
    makeNamedPipe(pipe);

    // Nobody reads: a clear error at once instead of waiting forever.
    const auto started = std::chrono::steady_clock::now();
    expectRefused([&] { publishFile(source, pipe); }, "no program is reading from the pipe");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

    std::promise<std::string> received;
    std::thread reader([&] {
        std::ifstream in(pipe, std::ios::binary);
        received.set_value(std::string(std::istreambuf_iterator<char>(in), {}));
    });
    // The reader's open blocks until the writer opens: retry until the reader is there.
    bool written = false;
    for (int attempt = 0; attempt < 200 && !written; ++attempt) {
        try {
            written = publishFile(source, pipe);
        } catch (const Error&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    reader.join();
    ASSERT_TRUE(written);
    EXPECT_EQ(received.get_future().get(), contentsOf(source));
    struct stat info {};
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe was replaced";
}

TEST(OutputDestinations, AFullFileSystemOrACancelKeepsTheOldFileAndLeavesNoPartial) {
    const fs::path source = writeMusic(scratchPath("source.wav"), 20.0); // about 7 MB
    const fs::path existing = scratchPath("existing.wav");
    std::ofstream(existing) << "an older export";

    int asked = 0;
    EXPECT_FALSE(publishFile(source, existing, [&] { return ++asked > 2; }));
    EXPECT_EQ(contentsOf(existing), "an older export");
    EXPECT_TRUE(partialFilesIn(scratchDirectory()).empty());

    const fs::path small = scratchPath("small");
    const SmallFileSystem fileSystem(small, 1 << 20);
    if (!fileSystem.mounted()) GTEST_SKIP() << fileSystem.failure();
    const fs::path kept = small / "kept.wav";
    std::ofstream(kept) << "an older export";
    checkOutputDestination(kept); // an empty file still fits
    try {
        publishFile(source, kept);
        ADD_FAILURE() << "7 MB fitted into 1 MB";
    } catch (const Error& error) {
        EXPECT_NE(error.description().find("No space left on device"), std::string::npos) << error.description();
    }
    EXPECT_EQ(contentsOf(kept), "an older export");
    EXPECT_TRUE(partialFilesIn(small).empty());
}

// --- Decoder libraries that print on their own -------------------------------------------------------

TEST(DecoderLogs, DamagedMpegAndAbsurdHeadersFailOrDecodeWithoutPrinting) {
    const fs::path mp3 = scratchPath("tone.mp3");
    const auto encode = std::system(("/usr/bin/ffmpeg -v quiet -f lavfi -i sine=d=1 -y '" + mp3.string() + "'").c_str());
    ASSERT_EQ(encode, 0);
    const std::string encoded = contentsOf(mp3);
    std::string junk(20000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = char((i * 7919u) >> 3);
    const fs::path damaged = scratchPath("damaged.mp3");
    std::ofstream(damaged, std::ios::binary) << encoded << junk;
    const fs::path garbage = scratchPath("garbage.mp3");
    std::ofstream(garbage, std::ios::binary) << "ID3" << junk;
    // A WAV header that claims 65535 channels: libsndfile refuses it, FFmpeg logs why.
    const fs::path absurd = scratchPath("absurd.wav");
    writeWav(absurd, {sine(440.0, 0.1, 8000.0, 800)}, 8000.0, SampleFormat::pcm16);
    {
        std::fstream header(absurd, std::ios::in | std::ios::out | std::ios::binary);
        header.seekp(22);
        header.put(char(0xFF)).put(char(0xFF));
    }

    testing::internal::CaptureStderr();
    const std::optional<Error> damagedError = openingError(damaged);
    if (!damagedError) {
        AudioFileReader reader(damaged);
        AudioBuffer buffer = reader.makeBuffer(4096);
        while (reader.read(buffer, 4096) > 0) {
        }
    }
    const std::optional<Error> garbageError = openingError(garbage);
    const std::optional<Error> absurdError = openingError(absurd);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "") << "a library printed on its own";
    EXPECT_TRUE(garbageError.has_value());
    ASSERT_TRUE(absurdError.has_value());
    EXPECT_NE(absurdError->description().find("Too many channels"), std::string::npos)
        << "FFmpeg's own reason reaches the error: " << absurdError->description();
}
