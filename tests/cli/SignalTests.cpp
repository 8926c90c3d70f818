// orvanta-cli under real signals sent to a real child process: every way a terminal or a pipeline
// ends a run cancels it cleanly, and a run killed outright is cleaned up by the next one.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> runFolders() {
    std::vector<fs::path> folders;
    if (!fs::exists(appTemporaryDirectory())) return folders;
    for (const auto& entry : fs::directory_iterator(appTemporaryDirectory()))
        if (entry.path().filename().string().rfind("cli-run-", 0) == 0) folders.push_back(entry.path());
    return folders;
}

// Waits (up to 60 s) until `condition` holds.
template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 6000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

} // namespace

TEST(Signals, HangupTerminateAndBrokenPipeCancelLikeCtrlC) {
    const fs::path input = writeLongMusic(scratchPath("long.wav"), 240.0, -4.0);
    const fs::path output = scratchPath("long (MASTER).wav");
    for (const auto& [signal, name] :
         std::vector<std::pair<int, std::string>>{{SIGHUP, "SIGHUP"}, {SIGTERM, "SIGTERM"}, {SIGPIPE, "SIGPIPE"},
                                                  {SIGINT, "SIGINT"}}) {
        RunOptions options;
        options.timeout = std::chrono::seconds(120);
        // Sent once the run has its folder (its handlers are in place by then), not after a fixed
        // delay: on a loaded machine starting the process alone can take longer than any delay.
        options.whileRunning = [signal = signal](pid_t run) {
            eventually([] { return !runFolders().empty(); });
            ::kill(run, signal);
        };
        const auto result = runCli({"master", input.string(), "--json"}, options);
        EXPECT_EQ(result.exitStatus, 128 + signal) << name << ": " << result.standardError;
        EXPECT_NE(result.standardError.find("cancelled by " + name), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "") << name;
        EXPECT_FALSE(fs::exists(output)) << name;
        EXPECT_FALSE(hasPartialFiles(scratchDirectory())) << name;
        EXPECT_TRUE(appTemporaryDirectoryIsEmpty()) << name << ": a pass file stayed behind";
    }
}

// `orvanta-cli master ... --json | head -c1`: the reader is gone before the report is written. The
// master was already in place, so it stays; the run's temporary files do not.
TEST(Signals, AReaderThatWentAwayLosesTheReportButNothingStaysInTheTemporaryFolder) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -6.0);
    const fs::path output = scratchPath("song (MASTER).wav");
    RunOptions options;
    options.outputToClosedPipe = true;
    const auto result = runCli({"master", input.string(), "--json"}, options);
    EXPECT_EQ(result.exitStatus, 128 + SIGPIPE) << result.standardError;
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
    EXPECT_EQ(readWithSndfile(output).at(0).size(), size_t(3.0 * 44100.0)) << "the master is whole";
}

TEST(Signals, ASignalWhileTheResultGoesIntoAPipeCancelsTheWrite) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 20.0, -6.0); // far more than a pipe holds
    const fs::path pipe = scratchPath("out.pipe");
    makeNamedPipe(pipe);
    // A reader that is there but never reads: the run's write blocks once the pipe is full.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    RunOptions options;
    options.timeout = std::chrono::seconds(120);
    options.whileRunning = [&](pid_t run) {
        pollfd waiting{reader, POLLIN, 0};
        ASSERT_EQ(::poll(&waiting, 1, 60000), 1) << "the result never reached the pipe";
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the pipe is full, the write blocked
        ::kill(run, SIGHUP);
    };
    const auto result = runCli({"master", input.string(), "-o", pipe.string()}, options);
    ::close(reader);
    EXPECT_EQ(result.exitStatus, 128 + SIGHUP) << result.standardError;
    EXPECT_EQ(result.standardOutput.find("Saved:"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(Signals, RunFoldersOfRunsThatDiedAreRemovedByTheNextRun) {
    const fs::path input = writeLongMusic(scratchPath("long.wav"), 120.0, -4.0);
    fs::path killedRunFolder;
    RunOptions killWhenWriting;
    killWhenWriting.timeout = std::chrono::seconds(120);
    killWhenWriting.whileRunning = [&](pid_t run) {
        // Killed outright once the run has written a pass file: nothing of its own can clean up.
        ASSERT_TRUE(eventually([&] {
            for (const fs::path& folder : runFolders()) {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(folder, ec)) {
                    if (entry.path().extension() == ".wav") {
                        killedRunFolder = folder;
                        return true;
                    }
                }
            }
            return false;
        }));
        ::kill(run, SIGKILL);
    };
    EXPECT_EQ(runCli({"master", input.string()}, killWhenWriting).exitStatus, 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(killedRunFolder)) << "the killed run left its folder";

    // Beside it: a live run's folder (its lock is held), a folder of another version without a lock
    // (kept for a day), and one like it from two days ago.
    const fs::path live = appTemporaryDirectory() / "cli-run-live";
    fs::create_directories(live);
    const int lock = ::open((live / ".run.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const fs::path recent = appTemporaryDirectory() / "cli-run-recent";
    const fs::path old = appTemporaryDirectory() / "cli-run-old";
    for (const fs::path& folder : {recent, old}) {
        fs::create_directories(folder);
        std::ofstream(folder / "song_master.wav") << "leftover";
    }
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(48));

    const fs::path song = writeMusic(scratchPath("short.wav"), 2.0);
    const auto next = runCli({"master", song.string()});
    ::close(lock);
    EXPECT_EQ(next.exitStatus, 0) << next.standardError;
    EXPECT_FALSE(fs::exists(killedRunFolder)) << "the dead run's folder is removed";
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(live)) << "a live run's folder is left alone";
    EXPECT_TRUE(fs::exists(recent));
}
