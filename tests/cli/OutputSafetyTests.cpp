// What the command line writes never damages what the user owns: links are written through, the
// reference is never overwritten, dead runs' partial files go, names that are not UTF-8 survive JSON.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

bool isLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// A shell line with every word quoted, for redirections the runner cannot make itself.
std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult runShell(const std::string& line) { return runProgram("/bin/sh", {"-c", line}); }

} // namespace

TEST(OutputSafety, LinksAreWrittenThroughAndStayLinks) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -12.0);
    const size_t frames = frameCountOf(input);

    // A link to this process's standard output, as /dev/stdout is: the WAV lands in the file the
    // shell opened, the report goes to stderr, the link stays.
    const fs::path standardOutput = scratchPath("stdout-link");
    fs::create_symlink("/proc/self/fd/1", standardOutput);
    const fs::path captured = scratchPath("captured.wav");
    const auto intoStdout = runShell(shellQuoted(cliExecutable().string()) + " master " + shellQuoted(input.string()) +
                                     " -o " + shellQuoted(standardOutput.string()) + " > " + shellQuoted(captured.string()));
    EXPECT_EQ(intoStdout.exitStatus, 0) << intoStdout.standardError;
    EXPECT_TRUE(isLink(standardOutput));
    EXPECT_EQ(frameCountOf(captured), frames);
    EXPECT_NE(intoStdout.standardError.find("Saved:"), std::string::npos) << "the report belongs on stderr";

    // A link to a regular file: the file it names gets the master, the link itself stays.
    const fs::path elsewhere = scratchPath("elsewhere");
    fs::create_directories(elsewhere);
    const fs::path target = elsewhere / "real.wav";
    { std::ofstream(target) << "old"; }
    const fs::path link = scratchPath("link (MASTER).wav");
    fs::create_symlink(target, link);
    const auto throughLink = runCli({"master", input.string(), "-o", link.string()});
    EXPECT_EQ(throughLink.exitStatus, 0) << throughLink.standardError;
    EXPECT_TRUE(isLink(link));
    EXPECT_EQ(frameCountOf(target), frames);
    EXPECT_FALSE(hasPartialFiles(elsewhere));

    // A dangling link creates the file it names; a loop of links is refused.
    const fs::path dangling = scratchPath("dangling.wav");
    fs::create_symlink("new-target.wav", dangling);
    EXPECT_EQ(runCli({"master", input.string(), "-o", dangling.string()}).exitStatus, 0);
    EXPECT_TRUE(isLink(dangling));
    EXPECT_EQ(frameCountOf(scratchPath("new-target.wav")), frames);
    fs::create_symlink("loop-b.wav", scratchPath("loop-a.wav"));
    fs::create_symlink("loop-a.wav", scratchPath("loop-b.wav"));
    const auto loop = runCli({"master", input.string(), "-o", scratchPath("loop-a.wav").string()});
    EXPECT_EQ(loop.exitStatus, 1);
    EXPECT_TRUE(isLink(scratchPath("loop-a.wav")) && isLink(scratchPath("loop-b.wav")));
}

TEST(OutputSafety, AnOutputThatIsTheReferenceIsAUsageError) {
    const fs::path input = writeMusic(scratchPath("Song.wav"), 3.0, -12.0);
    const fs::path reference = writeMusic(scratchPath("Song (FINAL).wav"), 3.0, -10.0, 2);
    const std::string before = contentsOf(reference);
    const fs::path hardLink = scratchPath("hard.wav");
    fs::create_hard_link(reference, hardLink);

    const std::vector<std::vector<std::string>> runs = {
        {"master", input.string(), "--reference", reference.string()}, // the default output name
        {"master", input.string(), "-o", reference.string(), "--reference", reference.string()},
        {"master", input.string(), "-o", hardLink.string(), "--reference", reference.string()},
        {"master", input.string(), writeMusic(scratchPath("Other.wav"), 3.0, -12.0, 3).string(), "--reference",
         reference.string()}, // a batch: Song's master would be the reference
    };
    for (const auto& args : runs) {
        const auto result = runCli(args);
        EXPECT_EQ(result.exitStatus, 2) << args[2] << ": " << result.standardError;
        EXPECT_NE(result.standardError.find("reference"), std::string::npos) << result.standardError;
    }
    EXPECT_EQ(contentsOf(reference), before);
    EXPECT_FALSE(fs::exists(scratchPath("Other (FINAL).wav"))) << "the batch started work";

    // The same file through a bind mount, where a private mount namespace can be had.
    const fs::path mirror = scratchPath("mirror");
    fs::create_directories(mirror);
    const auto bound = runProgram("/usr/bin/unshare", {"-m", "sh", "-c",
                                              "mount --bind " + shellQuoted(scratchDirectory().string()) + " " +
                                                  shellQuoted(mirror.string()) + " && exec " +
                                                  shellQuoted(cliExecutable().string()) + " master " +
                                                  shellQuoted(input.string()) + " -o " +
                                                  shellQuoted((mirror / "Song (FINAL).wav").string()) +
                                                  " --reference " + shellQuoted(reference.string())});
    if (bound.standardError.find("mount") != std::string::npos && bound.exitStatus != 2) {
        GTEST_SKIP() << "no private mount namespace here: " << bound.standardError;
    }
    EXPECT_EQ(bound.exitStatus, 2) << bound.standardError;
    EXPECT_EQ(contentsOf(reference), before);
}

TEST(OutputSafety, IncompleteMastersAreMadeAgainAndDeadRunsPartialFilesGo) {
    const fs::path folder = scratchPath("masters");
    fs::create_directories(folder);
    const fs::path a = writeMusic(scratchPath("a.wav"), 3.0, -12.0, 1);
    const fs::path b = writeMusic(scratchPath("b.wav"), 3.0, -12.0, 2);
    const fs::path c = writeMusic(scratchPath("c.wav"), 3.0, -12.0, 3);
    ASSERT_EQ(runCli({"master", c.string(), "-o", (folder / "c (MASTER).wav").string()}).exitStatus, 0);
    const std::string complete = contentsOf(folder / "c (MASTER).wav");
    { std::ofstream(folder / "a (MASTER).wav"); } // 0 bytes
    { std::ofstream(folder / "b (MASTER).wav", std::ios::binary) << complete.substr(0, complete.size() / 2); }

    // Partial files of "a (MASTER).wav": one of a process that is gone and untouched for an hour, one
    // of this live test, and one whose name only looks alike.
    const auto partial = [&](const std::string& suffix) { return folder / (".a (MASTER).wav.partial-" + suffix); };
    const fs::path dead = partial("999999999-0-12345");
    const fs::path live = partial(std::to_string(::getpid()) + "-0-12345");
    const fs::path foreign = partial("999999999-notours");
    for (const fs::path& file : {dead, live, foreign}) {
        std::ofstream(file) << "partial";
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }

    const auto result = runCli({"master", a.string(), b.string(), c.string(), "-o", folder.string(),
                                "--skip-existing", "--json"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("\"input_path\":\"" + a.string() + "\",\"status\":\"mastered\""),
              std::string::npos) << result.standardOutput;
    EXPECT_NE(result.standardOutput.find("\"input_path\":\"" + b.string() + "\",\"status\":\"mastered\""),
              std::string::npos) << result.standardOutput;
    EXPECT_NE(result.standardOutput.find("\"input_path\":\"" + c.string() + "\",\"status\":\"skipped\""),
              std::string::npos) << result.standardOutput;
    EXPECT_EQ(frameCountOf(folder / "a (MASTER).wav"), frameCountOf(a));
    EXPECT_EQ(contentsOf(folder / "b (MASTER).wav").size(), complete.size());
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(foreign));
}

TEST(OutputSafety, NamesThatAreNotUtf8SurviveJsonAndTheBatch) {
    const fs::path folder = scratchPath("out");
    fs::create_directories(folder);
    const fs::path odd = writeMusic(scratchPath("caf\xe9.wav"), 3.0, -12.0, 1);
    const fs::path g1 = writeMusic(scratchPath("g1.wav"), 3.0, -12.0, 2);
    const fs::path g2 = writeMusic(scratchPath("g2.wav"), 3.0, -12.0, 3);
    const auto batch = runCli({"master", odd.string(), g1.string(), g2.string(), "-o", folder.string(), "--json"});
    EXPECT_EQ(batch.exitStatus, 0) << batch.standardError;
    EXPECT_EQ(linesOf(batch.standardOutput).size(), 3u) << batch.standardOutput;
    EXPECT_TRUE(fs::exists(folder / "caf\xe9 (MASTER).wav"));
    EXPECT_TRUE(fs::exists(folder / "g1 (MASTER).wav"));
    EXPECT_TRUE(fs::exists(folder / "g2 (MASTER).wav"));

    // Every line is JSON, and the escape gives the name's bytes back as Python's os.fsencode does.
    const auto single = runCli({"master", odd.string(), "-o", (folder / "caf\xe9 again.wav").string(), "--json"});
    ASSERT_EQ(single.exitStatus, 0) << single.standardError;
    const fs::path lines = scratchPath("lines.jsonl");
    { std::ofstream(lines, std::ios::binary) << batch.standardOutput << single.standardOutput; }
    const auto decoded = runProgram(
        "/usr/bin/python3", {"-c", "import json,os,sys\n"
                          "for line in open(sys.argv[1], encoding='utf-8'):\n"
                          "    o = json.loads(line)\n"
                          "    sys.stdout.buffer.write(os.fsencode(o['output_path']) + b'\\n')\n",
                    lines.string()});
    ASSERT_EQ(decoded.exitStatus, 0) << decoded.standardError;
    EXPECT_NE(decoded.standardOutput.find(fs::absolute(folder / "caf\xe9 (MASTER).wav").string() + "\n"),
              std::string::npos) << decoded.standardOutput;
    EXPECT_NE(decoded.standardOutput.find(fs::absolute(folder / "caf\xe9 again.wav").string() + "\n"),
              std::string::npos) << decoded.standardOutput;
}
