#include "support/CommandRunner.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
    static int runNumber = 0;
    ++runNumber;
    const auto outPath = scratchPath("command-" + std::to_string(runNumber) + ".out");
    const auto errPath = scratchPath("command-" + std::to_string(runNumber) + ".err");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + program.string());

    if (interruptAfter) {
        std::this_thread::sleep_for(*interruptAfter);
        kill(pid, SIGINT);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
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
