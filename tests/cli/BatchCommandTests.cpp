// `orvanta-cli master IN... -o FOLDER`: many files, each in a run of its own, on real files and
// real child processes.
#include "support/CommandRunner.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <map>
#include <thread>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// The JSON lines of a batch, by input path.
std::map<std::string, nlohmann::json> linesByInput(const std::string& standardOutput) {
    std::map<std::string, nlohmann::json> lines;
    for (const std::string& line : linesOf(standardOutput)) {
        const auto object = nlohmann::json::parse(line);
        lines[object.at("input_path").get<std::string>()] = object;
    }
    return lines;
}

// `count` songs of different lengths and levels; `repeatedPassage` writes long ones cheaply.
std::vector<fs::path> songs(const std::string& folder, int count, double seconds, bool repeatedPassage = false) {
    fs::create_directories(scratchPath(folder));
    std::vector<fs::path> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path path = scratchPath(folder + "/song " + std::to_string(i + 1) + ".wav");
        const double length = seconds + 0.5 * i, levelDB = -12.0 - 2.0 * i;
        paths.push_back(repeatedPassage ? writeLongMusic(path, length, levelDB, uint32_t(i + 1))
                                        : writeMusic(path, length, levelDB, uint32_t(i + 1)));
    }
    return paths;
}

fs::path masterOf(const fs::path& folder, const fs::path& input) {
    return folder / (input.stem().string() + " (MASTER).wav");
}

std::vector<std::string> batchArguments(const std::vector<fs::path>& inputs, std::vector<std::string> options) {
    std::vector<std::string> args{"master"};
    for (const fs::path& input : inputs) args.push_back(input.string());
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

std::size_t fileCount(const fs::path& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// Whether a process still runs with `word` on its command line.
bool processRunsWith(const std::string& word) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string commandLine((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (commandLine.find(word) != std::string::npos) return true;
    }
    return false;
}

} // namespace

TEST(BatchCommand, AFileThatFailsDoesNotStopTheOthersAndEveryFileHasItsLine) {
    std::vector<fs::path> inputs = songs("in", 3, 3.0);
    const fs::path broken = scratchPath("in/broken.wav");
    std::ofstream(broken) << "not audio at all";
    inputs.insert(inputs.begin() + 1, broken);
    inputs.push_back(scratchPath("in/missing.wav"));
    const fs::path out = scratchPath("out");
    fs::create_directories(out);

    const auto result =
        runCli(batchArguments(inputs, {"-o", out.string(), "--jobs", "2", "--target", "-12", "--ceiling", "-1", "--json"}));
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    const auto lines = linesByInput(result.standardOutput);
    ASSERT_EQ(lines.size(), inputs.size()) << result.standardOutput;
    for (const fs::path& failed : {broken, scratchPath("in/missing.wav")}) {
        const auto& line = lines.at(failed.string());
        EXPECT_EQ(line["status"], "failed");
        EXPECT_FALSE(line["error"].get<std::string>().empty());
        EXPECT_EQ(line["error"].get<std::string>().find("orvanta-cli"), std::string::npos) << line;
        EXPECT_NE(result.standardError.find(failed.string()), std::string::npos) << "the cause names the file";
        EXPECT_FALSE(fs::exists(masterOf(out, failed)));
    }
    EXPECT_NE(lines.at(scratchPath("in/missing.wav").string())["error"].get<std::string>().find("no such file"),
              std::string::npos);
    for (int i : {0, 2, 3}) {
        const auto& line = lines.at(inputs[i].string());
        EXPECT_EQ(line["status"], "mastered");
        EXPECT_EQ(line["output_path"], masterOf(out, inputs[i]).string());
        EXPECT_TRUE(line.contains("passes") && line.contains("bpm")) << "the single-file report, whole";
        // The options reached every run: each master sits at its target, under its ceiling.
        double rate = 0;
        const Channels master = readWithSndfile(masterOf(out, inputs[i]), &rate);
        EXPECT_NEAR(ebur128Loudness(master, rate), -12.0, 1.0) << inputs[i];
        EXPECT_LE(ebur128TruePeakDb(master, rate), -1.0 + 0.1) << inputs[i];
    }
    EXPECT_EQ(fileCount(out), 3u);
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(BatchCommand, SkipExistingLeavesFinishedMastersAloneAndDoesTheRest) {
    // Without -o each master goes beside its input, as in the single-file mode.
    const std::vector<fs::path> inputs = songs("in", 3, 2.0);
    const fs::path folder = inputs.front().parent_path();
    ASSERT_EQ(runCli(batchArguments(inputs, {"--jobs", "2"})).exitStatus, 0);
    const std::string kept = contentsOf(masterOf(folder, inputs[0]));
    const auto keptTime = fs::last_write_time(masterOf(folder, inputs[0]));
    fs::remove(masterOf(folder, inputs[1]));

    const auto again = runCli(batchArguments(inputs, {"--skip-existing", "--json"}));
    ASSERT_EQ(again.exitStatus, 0) << again.standardError;
    const auto lines = linesByInput(again.standardOutput);
    EXPECT_EQ(lines.at(inputs[0].string())["status"], "skipped");
    EXPECT_EQ(lines.at(inputs[0].string())["output_path"], fs::absolute(masterOf(folder, inputs[0])).string());
    EXPECT_EQ(lines.at(inputs[1].string())["status"], "mastered");
    EXPECT_EQ(lines.at(inputs[2].string())["status"], "skipped");
    EXPECT_EQ(contentsOf(masterOf(folder, inputs[0])), kept);
    EXPECT_EQ(fs::last_write_time(masterOf(folder, inputs[0])), keptTime) << "a skipped master is not rewritten";
    EXPECT_TRUE(fs::exists(masterOf(folder, inputs[1])));

    const auto text = runCli(batchArguments(inputs, {"--skip-existing"}));
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_NE(text.standardOutput.find(inputs[1].string() + ": skipped, "), std::string::npos) << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("0 mastered, 3 skipped, 0 failed"), std::string::npos) << text.standardOutput;
}

// Ctrl+C, or a SIGTERM sent to the batch alone: the runs in flight are cancelled and remove their
// files, nothing new starts, and the same command with --skip-existing finishes the work.
TEST(BatchCommand, ASignalMidBatchCancelsTheRunsInFlightAndLeavesNoPartialFile) {
    // Long enough that a run seen at work is still at work when the signal lands: on an idle machine a
    // 150-second song is mastered in about half a second.
    const std::vector<fs::path> inputs = songs("in", 4, 150.0, true);
    const fs::path out = scratchPath("out");
    fs::create_directories(out);
    for (const auto& [signal, name] : std::vector<std::pair<int, std::string>>{{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
        RunOptions options;
        options.timeout = std::chrono::seconds(120);
        options.whileRunning = [&](pid_t batch) {
            // Once a run has made its own temporary folder (inside the batch's), the work is under way.
            // Pass files are no marker: a pass the run may throw away is held in memory, and the
            // first file can appear as the run ends.
            const auto runStarted = [] {
                std::error_code ec;
                for (fs::recursive_directory_iterator it(appTemporaryDirectory(), ec), end; !ec && it != end;
                     it.increment(ec)) {
                    if (it.depth() == 1 && it->is_directory(ec) && it->path().filename().string().rfind("cli-run-", 0) == 0)
                        return true;
                }
                return false;
            };
            for (int i = 0; i < 6000 && !runStarted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::kill(batch, signal);
        };
        const auto result = runCli(batchArguments(inputs, {"-o", out.string(), "--jobs", "2", "--json"}), options);
        EXPECT_EQ(result.exitStatus, 128 + signal) << name << ": " << result.standardError;
        EXPECT_NE(result.standardError.find("cancelled by " + name), std::string::npos) << result.standardError;
        EXPECT_NE(result.standardError.find("--skip-existing"), std::string::npos);
        int cancelled = 0;
        for (const auto& [input, line] : linesByInput(result.standardOutput)) cancelled += line["status"] == "cancelled";
        EXPECT_GE(cancelled, 1) << result.standardOutput;
        EXPECT_FALSE(hasPartialFiles(out)) << name;
        EXPECT_TRUE(appTemporaryDirectoryIsEmpty()) << name << ": a run's folder stayed behind";
        EXPECT_FALSE(processRunsWith(out.string())) << name << ": a run outlived the batch";
        EXPECT_LT(fileCount(out), inputs.size()) << name;
    }

    const auto resumed = runCli(batchArguments(inputs, {"-o", out.string(), "--skip-existing", "--json"}));
    EXPECT_EQ(resumed.exitStatus, 0) << resumed.standardError;
    EXPECT_EQ(fileCount(out), inputs.size());
    for (const fs::path& input : inputs)
        EXPECT_EQ(frameCountOf(masterOf(out, input)), frameCountOf(input)) << input;
}

// A run that dies outright (the out-of-memory killer, a crash) cannot clean up after itself: the
// batch reports its file as failed, removes the hidden file it was writing, and goes on.
TEST(BatchCommand, ARunKilledOutrightFailsAloneAndItsPartialFileIsRemoved) {
    const std::vector<fs::path> inputs = songs("in", 3, 4.0);
    const fs::path out = scratchPath("out");
    fs::create_directories(out);
    fs::path partial;
    RunOptions options;
    options.timeout = std::chrono::seconds(120);
    options.whileRunning = [&](pid_t batch) {
        const std::string children = "/proc/" + std::to_string(batch) + "/task/" + std::to_string(batch) + "/children";
        pid_t run = 0;
        for (int i = 0; i < 6000 && run == 0; ++i) {
            std::ifstream(children) >> run;
            if (run == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_NE(run, 0) << "the batch started no run";
        // What a run leaves when it dies while writing its master.
        partial = out / (".song 1 (MASTER).wav.partial-" + std::to_string(run) + "-0-12345");
        std::ofstream(partial) << "half a master";
        ::kill(run, SIGKILL);
    };
    const auto result = runCli(batchArguments(inputs, {"-o", out.string(), "--jobs", "1", "--json"}), options);
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    const auto lines = linesByInput(result.standardOutput);
    ASSERT_EQ(lines.size(), 3u) << result.standardOutput;
    EXPECT_EQ(lines.at(inputs[0].string())["status"], "failed");
    EXPECT_NE(lines.at(inputs[0].string())["error"].get<std::string>().find("SIGKILL"), std::string::npos);
    EXPECT_EQ(lines.at(inputs[1].string())["status"], "mastered");
    EXPECT_EQ(lines.at(inputs[2].string())["status"], "mastered");
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_FALSE(hasPartialFiles(out));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty()) << "the dead run's folder goes with the batch's";
}

TEST(BatchCommand, ClashingNamesAndBadOptionsAreUsageErrorsFoundBeforeAnyWork) {
    fs::create_directories(scratchPath("one"));
    fs::create_directories(scratchPath("two"));
    const fs::path song = writeMusic(scratchPath("one/Song.wav"), 2.0);
    const fs::path sameName = writeMusic(scratchPath("two/Song_master.wav"), 2.0, 0.0, 2);
    const fs::path itsMaster = writeMusic(scratchPath("one/Song (MASTER).wav"), 2.0, 0.0, 3);
    const fs::path out = scratchPath("out");
    fs::create_directories(out);
    const fs::path aFile = scratchPath("not-a-folder.txt");
    std::ofstream(aFile) << "x";

    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {batchArguments({song, sameName}, {"-o", out.string()}), "would both be written to"},
        {batchArguments({song, scratchPath("one/../one/Song.wav")}, {"-o", out.string()}), "listed twice"},
        // Beside the inputs, one's master would overwrite the other input.
        {batchArguments({song, itsMaster}, {}), "would replace the input"},
        {batchArguments({song, sameName}, {"-o", aFile.string()}), "is not a folder"},
        {batchArguments({song, sameName}, {"-o", out.string(), "--jobs", "0"}), "--jobs takes a whole number"},
        {batchArguments({song, sameName}, {"-o", out.string(), "--jobs", "1.5"}), "--jobs takes a whole number"},
        {batchArguments({song, sameName}, {"-o", out.string(), "--target", "-50"}), "--target must be between"},
        {batchArguments({song, sameName}, {"-o", out.string(), "--match-amount", "Full"}), "needs --reference"},
    };
    for (const Case& c : cases) {
        const auto result = runCli(c.args);
        EXPECT_EQ(result.exitStatus, 2) << c.says << ": " << result.standardError;
        EXPECT_NE(result.standardError.find(c.says), std::string::npos) << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(fileCount(out), 0u);
    EXPECT_EQ(fileCount(scratchPath("one")), 2u);
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty()) << "no run started";

    const auto missingFolder = runCli(batchArguments({song, itsMaster}, {"-o", scratchPath("nowhere").string()}));
    EXPECT_EQ(missingFolder.exitStatus, 1);
    EXPECT_NE(missingFolder.standardError.find("no such folder"), std::string::npos) << missingFolder.standardError;
}

// Each file is an independent job: one at a time, two at a time, or GNU Parallel running the
// single-file command, the masters are the same bytes.
TEST(BatchCommand, OneAtATimeTwoAtATimeAndGnuParallelWriteTheSameFiles) {
    const std::vector<fs::path> inputs = songs("in", 3, 2.5);
    std::map<std::string, fs::path> folders;
    for (const char* name : {"jobs1", "jobs2", "parallel"}) fs::create_directories(folders[name] = scratchPath(name));

    ASSERT_EQ(runCli(batchArguments(inputs, {"-o", folders["jobs1"].string(), "--jobs", "1"})).exitStatus, 0);
    ASSERT_EQ(runCli(batchArguments(inputs, {"-o", folders["jobs2"].string(), "--jobs", "2"})).exitStatus, 0);
    if (fs::exists("/usr/bin/parallel")) {
        // The template is quoted word by word (-q), so the space in the output name stays inside it.
        std::vector<std::string> args{"--will-cite", "-q", "-j", "2", cliExecutable().string(), "master", "{}", "-o",
                                      (folders["parallel"] / "{/.} (MASTER).wav").string(), ":::"};
        for (const fs::path& input : inputs) args.push_back(input.string());
        const auto parallel = runProgram("/usr/bin/parallel", args);
        ASSERT_EQ(parallel.exitStatus, 0) << parallel.standardError;
    } else {
        ADD_FAILURE() << "GNU Parallel is not installed (scripts/setup.sh installs it)";
    }
    for (const fs::path& input : inputs) {
        const std::string reference = contentsOf(masterOf(folders["jobs1"], input));
        ASSERT_FALSE(reference.empty()) << input;
        EXPECT_TRUE(contentsOf(masterOf(folders["jobs2"], input)) == reference) << input;
        EXPECT_TRUE(contentsOf(masterOf(folders["parallel"], input)) == reference) << input;
    }
}
