// orvanta-cli with settings outside their ranges, and failures whose cause must reach the user: a full
// disk, a folder, an absurd channel count, a damaged MP3.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/SpecialFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace orvanta::test;
namespace fs = std::filesystem;

// --- Ranges --------------------------------------------------------------------------------------------

TEST(Ranges, TargetsAndCeilingsOutsideTheirRangesAreUsageErrorsNamingTheRange) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -6.0);
    const fs::path output = scratchPath("out.wav");
    const std::string targetRange = "between -30 and -3 LUFS";
    const std::string ceilingRange = "between -6 and 0 dBFS";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--target", "-200"}, targetRange}, {{"--target", "10"}, targetRange},
        {{"--target", "-30.5"}, targetRange}, {{"--target=-2.9"}, targetRange},
        {{"--ceiling", "5"}, ceilingRange},  {{"--ceiling", "-100"}, ceilingRange},
        {{"--ceiling", "0.1"}, ceilingRange}, {{"--ceiling", "-6.01"}, ceilingRange},
    };
    for (const auto& [option, range] : refused) {
        std::vector<std::string> words = {"master", input.string(), "-o", output.string()};
        words.insert(words.end(), option.begin(), option.end());
        const auto result = runCli(words);
        EXPECT_EQ(result.exitStatus, 2) << option.front();
        EXPECT_NE(result.standardError.find(range), std::string::npos) << result.standardError;
        EXPECT_FALSE(fs::exists(output));
    }
    // The bounds themselves are accepted.
    for (const auto& [target, ceiling] : {std::pair{"-30", "-6"}, std::pair{"-3", "0"}}) {
        const auto edge = runCli({"master", input.string(), "-o", output.string(), "--target", target, "--ceiling", ceiling});
        EXPECT_EQ(edge.exitStatus, 0) << target << " / " << ceiling << ": " << edge.standardError;
    }
}

// --- Error texts ---------------------------------------------------------------------------------------

TEST(ErrorTexts, AFullDiskIsNamedAsSuch) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 20.0, -6.0); // a 24-bit pass is about 5 MB
    const SmallFileSystem small(scratchPath("small"), 2 << 20);
    if (!small.mounted()) GTEST_SKIP() << small.failure();
    RunOptions options;
    options.environment = {{"ORVANTA_TEMP_DIR", (scratchPath("small") / "orvanta").string()}};
    const auto result = runCli({"master", input.string(), "-o", scratchPath("out.wav").string()}, options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(linesOf(result.standardError).size(), 1u) << result.standardError;
    EXPECT_NE(result.standardError.find("No space left on device"), std::string::npos) << result.standardError;
    EXPECT_EQ(result.standardError.find("mastering failed"), std::string::npos) << result.standardError;
    EXPECT_FALSE(fs::exists(scratchPath("out.wav")));
    EXPECT_TRUE(fs::is_empty(scratchPath("small") / "orvanta")) << "the run's pass files are gone";
}

TEST(ErrorTexts, FoldersChannelCountsAndDamagedFilesAreExplainedInOneLine) {
    const fs::path folder = scratchPath("album.wav");
    fs::create_directories(folder);
    const fs::path wide = scratchPath("wide.wav");
    writeWav(wide, Channels(1000, std::vector<float>(100, 0.1f)), 8000.0, SampleFormat::pcm16);
    const fs::path mp3 = scratchPath("damaged.mp3");
    std::string junk(30000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = char((i * 2654435761u) >> 13);
    std::ofstream(mp3, std::ios::binary) << "ID3" << junk;

    const std::vector<std::pair<fs::path, std::string>> cases = {
        {folder, "is a folder"},
        {wide, "has 1000 channels, at most 32 are supported"},
        {mp3, "could not be opened as audio"},
    };
    for (const auto& [input, text] : cases) {
        for (const std::vector<std::string>& words :
             {std::vector<std::string>{"measure", input.string()}, {"master", input.string()},
              {"analyze", input.string()}}) {
            const auto result = runCli(words);
            EXPECT_EQ(result.exitStatus, 1) << words.front() << " " << input;
            EXPECT_EQ(linesOf(result.standardError).size(), 1u) << "only our own line: " << result.standardError;
            EXPECT_NE(result.standardError.find(text), std::string::npos) << result.standardError;
            EXPECT_NE(result.standardError.find(input.filename().string()), std::string::npos) << result.standardError;
        }
    }
}
