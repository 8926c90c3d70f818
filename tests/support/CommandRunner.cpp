#include "support/CommandRunner.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <thread>
#include <sstream>
#include <stdexcept>

#include "support/TestEnvironment.h"

extern char** environ;

namespace orvanta::test {

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::filesystem::path cliExecutable() {
    return std::filesystem::path(ORVANTA_BINARY_DIR) / "bin" / "orvanta-cli";
}

CommandResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::optional<std::chrono::milliseconds> interruptAfter) {
    RunOptions options;
    options.signalAfter = interruptAfter;
    return runProgram(program, args, options);
}

CommandResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const RunOptions& options) {
    static int runNumber = 0;
    ++runNumber;
    const auto outPath = scratchPath("command-" + std::to_string(runNumber) + ".out");
    const auto errPath = scratchPath("command-" + std::to_string(runNumber) + ".err");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int closedPipe[2] = {-1, -1};
    if (options.outputToClosedPipe && ::pipe(closedPipe) == 0) {
        ::close(closedPipe[0]);
        posix_spawn_file_actions_adddup2(&actions, closedPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto& [key, value] : options.environment) overridden = overridden || key == name;
        if (!overridden) variables.push_back(entry);
    }
    for (const auto& [key, value] : options.environment)
        if (!value.empty()) variables.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (closedPipe[1] >= 0) ::close(closedPipe[1]);
    if (spawned != 0) throw std::runtime_error("cannot start " + program.string());

    const auto started = std::chrono::steady_clock::now();
    if (options.signalAfter) {
        std::this_thread::sleep_for(*options.signalAfter);
        kill(pid, options.signal);
    }
    if (options.whileRunning) options.whileRunning(pid);
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() - started > options.timeout) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    CommandResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standardOutput = slurp(outPath);
    result.standardError = slurp(errPath);
    return result;
}

CommandResult runCli(const std::vector<std::string>& args, std::optional<std::chrono::milliseconds> interruptAfter) {
    return runProgram(cliExecutable(), args, interruptAfter);
}

CommandResult runCli(const std::vector<std::string>& args, const RunOptions& options) {
    return runProgram(cliExecutable(), args, options);
}

Channels decodedWithFfmpeg(const std::filesystem::path& file, double* sampleRate) {
    const auto decoded = scratchPath(file.filename().string() + ".decoded.wav");
    const CommandResult run = runProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", file.string(), "-c:a",
                                                             "pcm_f32le", decoded.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    if (run.exitStatus != 0) return {};
    Channels channels = readWithSndfile(decoded, sampleRate);
    std::filesystem::remove(decoded);
    return channels;
}

bool resampleWithFfmpeg(const std::filesystem::path& input, const std::filesystem::path& output, double sampleRate) {
    const CommandResult result = runProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", input.string(), "-ar",
                                                                std::to_string(int(sampleRate)), "-c:a", "pcm_f32le",
                                                                output.string()});
    return result.exitStatus == 0;
}

std::vector<SongAtRate> songAtRates(const std::filesystem::path& original, double originalRate,
                                    const std::vector<double>& rates) {
    std::vector<SongAtRate> songs;
    for (double rate : rates) {
        auto path = original;
        if (rate != originalRate) {
            path = scratchPath(original.stem().string() + "-" + std::to_string(int(rate)) + ".wav");
            EXPECT_TRUE(resampleWithFfmpeg(original, path, rate)) << rate;
        }
        songs.push_back({rate, path});
    }
    return songs;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

} // namespace orvanta::test
