// orvanta-cli with special files as inputs and outputs: real named pipes, sockets, device nodes and
// read-only file systems.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <future>
#include <iterator>
#include <thread>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

bool isCharacterDevice(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// A run that hangs is killed after this: the test then fails on its status instead of stalling.
RunOptions withTimeout(std::chrono::seconds seconds) {
    RunOptions options;
    options.timeout = seconds;
    return options;
}

} // namespace

TEST(SpecialFiles, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
    const fs::path pipe = scratchPath("pipe.wav");
    makeNamedPipe(pipe);
    const fs::path folder = scratchPath("folder.wav");
    fs::create_directories(folder);
    const fs::path socketPath = scratchPath("socket.wav");
    const UnixSocket socket(socketPath);

    const std::vector<std::pair<fs::path, std::string>> inputs = {
        {pipe, "is a named pipe (FIFO), not an audio file"},
        {folder, "is a folder, not an audio file"},
        {socketPath, "is a socket, not an audio file"},
        {"/dev/zero", "is a character device, not an audio file"},
    };
    for (const auto& [input, text] : inputs) {
        for (const std::string command : {"measure", "master", "analyze"}) {
            const auto result = runCli({command, input.string()}, withTimeout(std::chrono::seconds(30)));
            EXPECT_EQ(result.exitStatus, 1) << command << " " << input << ": " << result.standardError;
            EXPECT_EQ(linesOf(result.standardError).size(), 1u) << result.standardError;
            EXPECT_NE(result.standardError.find(text), std::string::npos) << result.standardError;
            EXPECT_EQ(result.standardOutput, "");
        }
    }
    EXPECT_FALSE(fs::exists(scratchPath("pipe (MASTER).wav")));
    struct stat info {};
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(SpecialFiles, DeviceOutputsAreWrittenIntoAndNeverReplaced) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -6.0);
    const fs::path null = scratchPath("null");
    const fs::path full = scratchPath("full");
    if (!makeDeviceNode(null, 1, 3) || !makeDeviceNode(full, 1, 7)) {
        GTEST_SKIP() << "device nodes cannot be made here (needs root)";
    }

    const auto intoNull = runCli({"master", input.string(), "-o", null.string()});
    EXPECT_EQ(intoNull.exitStatus, 0) << intoNull.standardError;
    EXPECT_NE(intoNull.standardOutput.find("Saved:"), std::string::npos);
    EXPECT_TRUE(isCharacterDevice(null)) << "the null device was replaced by a file";

    const auto intoFull = runCli({"master", input.string(), "-o", full.string(), "--json"});
    EXPECT_EQ(intoFull.exitStatus, 1);
    EXPECT_NE(intoFull.standardError.find("No space left on device"), std::string::npos) << intoFull.standardError;
    EXPECT_EQ(intoFull.standardOutput, "") << "nothing is reported saved";
    EXPECT_TRUE(isCharacterDevice(full)) << "the full device was replaced by a file";

    EXPECT_FALSE(hasPartialFiles(scratchDirectory()));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(SpecialFiles, APipeOutputReceivesTheWholeMasterOrFailsWithoutAReader) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 4.0, -6.0);
    const fs::path pipe = scratchPath("out.pipe");
    makeNamedPipe(pipe);

    const auto unread = runCli({"master", input.string(), "-o", pipe.string()}, withTimeout(std::chrono::seconds(60)));
    EXPECT_EQ(unread.exitStatus, 1);
    EXPECT_NE(unread.standardError.find("no program is reading from the pipe"), std::string::npos)
        << unread.standardError;

    std::promise<std::string> received;
    std::thread reader([&] {
        std::ifstream in(pipe, std::ios::binary); // blocks until the run opens the pipe
        received.set_value(std::string(std::istreambuf_iterator<char>(in), {}));
    });
    // The reader is waiting in its open before the run gets to the pipe.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto read = runCli({"master", input.string(), "-o", pipe.string()}, withTimeout(std::chrono::seconds(60)));
    reader.join();
    EXPECT_EQ(read.exitStatus, 0) << read.standardError;
    const fs::path copy = scratchPath("received.wav");
    std::ofstream(copy, std::ios::binary) << received.get_future().get();
    double sampleRate = 0.0;
    const Channels master = readWithSndfile(copy, &sampleRate);
    EXPECT_EQ(sampleRate, 44100.0);
    ASSERT_EQ(master.size(), 2u);
    EXPECT_EQ(master[0].size(), size_t(4.0 * 44100.0)) << "the whole master came through the pipe";
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(SpecialFiles, AMissingOrUnwritableOutputFolderIsFoundBeforeTheFirstPass) {
    // The input is not even audio: the folder's error comes first, so nothing was opened or run.
    const fs::path text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    const auto missing = runCli({"master", text.string(), "-o", scratchPath("no-folder/out.wav").string()});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.standardError.find("does not exist"), std::string::npos) << missing.standardError;
    EXPECT_EQ(missing.standardError.find("notes.wav:"), std::string::npos) << missing.standardError;

    const auto folder = runCli({"master", text.string(), "-o", scratchDirectory().string()});
    EXPECT_EQ(folder.exitStatus, 1);
    EXPECT_NE(folder.standardError.find("is a folder"), std::string::npos) << folder.standardError;

    const auto repair = runCli({"analyze", text.string(), "--repair", "-o", scratchPath("no-folder/out.wav").string()});
    EXPECT_EQ(repair.exitStatus, 1);
    EXPECT_NE(repair.standardError.find("does not exist"), std::string::npos) << repair.standardError;

    const SmallFileSystem readOnly(scratchPath("read-only"), 1 << 20, true);
    if (!readOnly.mounted()) GTEST_SKIP() << readOnly.failure();
    const auto unwritable = runCli({"master", text.string(), "-o", scratchPath("read-only/out.wav").string()});
    EXPECT_EQ(unwritable.exitStatus, 1);
    EXPECT_NE(unwritable.standardError.find("Read-only file system"), std::string::npos) << unwritable.standardError;
}
