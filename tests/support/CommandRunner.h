#pragma once

#include "support/Signals.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvanta::test {

struct CommandResult {
    int exitStatus = -1; // the process's exit status, or 128 + signal when a signal ended it
    std::string standardOutput;
    std::string standardError;
};

// The built orvanta-cli of this build tree.
std::filesystem::path cliExecutable();

// How a program is run beyond its arguments.
struct RunOptions {
    // Sends `signal` to the program once `signalAfter` has passed (SIGINT: as Ctrl+C would).
    std::optional<std::chrono::milliseconds> signalAfter;
    int signal = 2; // SIGINT
    // Called with the program's process id once it runs, before waiting for it: to send a signal at
    // a moment the test chooses.
    std::function<void(pid_t)> whileRunning;
    // Standard output goes into a pipe whose reader has already gone (as `... | head -c1` once head
    // has exited); nothing is captured.
    bool outputToClosedPipe = false;
    // Variables set (or, with an empty value, removed) in the program's environment only.
    std::vector<std::pair<std::string, std::string>> environment;
    // A program still running after this is killed (SIGKILL, status 137), so that a hang fails the
    // test instead of stalling the suite.
    std::chrono::seconds timeout{300};
};

// Runs `program args...` to completion with stdin closed, capturing both output streams.
// With `interruptAfter`, sends SIGINT once that much time has passed (as Ctrl+C would).
CommandResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::optional<std::chrono::milliseconds> interruptAfter = std::nullopt);
CommandResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const RunOptions& options);

// Runs orvanta-cli with `args`.
CommandResult runCli(const std::vector<std::string>& args,
                     std::optional<std::chrono::milliseconds> interruptAfter = std::nullopt);
CommandResult runCli(const std::vector<std::string>& args, const RunOptions& options);

// Any audio file decoded by the ffmpeg program, not by the code under test: its channels and rate.
// Fails the calling test when ffmpeg cannot decode it.
Channels decodedWithFfmpeg(const std::filesystem::path& file, double* sampleRate = nullptr);

// Writes `input` resampled to `sampleRate` by ffmpeg as a 32-bit float WAV at `output`; true on success.
bool resampleWithFfmpeg(const std::filesystem::path& input, const std::filesystem::path& output, double sampleRate);

// The same song at every rate of `rates` (its own rate first, then ffmpeg's resampled copies in the
// scratch folder), each with its channels read back by libsndfile. Fails the calling test on a copy
// ffmpeg cannot make.
struct SongAtRate {
    double rate;
    std::filesystem::path path;
};
std::vector<SongAtRate> songAtRates(const std::filesystem::path& original, double originalRate,
                                    const std::vector<double>& rates);

// The lines of `text` without their line ends.
std::vector<std::string> linesOf(const std::string& text);

} // namespace orvanta::test
