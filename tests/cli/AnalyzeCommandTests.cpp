#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <iterator>

using namespace orvanta::test;

namespace {

std::filesystem::path writeHalfScaleSine() {
    const auto path = scratchPath("tone.wav");
    writeWav(path, replicate(sine(1000.0, 0.5, 44100.0, 44100 * 3), 2), 44100.0);
    return path;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(AnalyzeCommand, PrintsScoresVerdictUseCaseAndLevels) {
    const auto result = runCli({"analyze", writeHalfScaleSine().string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const std::string& out = result.standardOutput;
    EXPECT_TRUE(contains(out, "TRUE PEAK:  -6.0\n")) << out; // the peak pass ran
    EXPECT_TRUE(contains(out, "Best for:   ")) << out;
    EXPECT_TRUE(contains(out, "Note:       ")) << out;
    EXPECT_TRUE(contains(out, "LUFS:       ")) << out;
    EXPECT_TRUE(contains(out, "SHORT TERM: ")) << out;
    EXPECT_TRUE(contains(out, "Balance:    sub-bass ")) << out;
    // Whole-number score followed by the verdict.
    const auto scoreLine = out.substr(out.find("Score:      ") + 12);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(scoreLine[0]))) << out;
    EXPECT_EQ(scoreLine.find_first_not_of("0123456789"), scoreLine.find(' '));
}

TEST(AnalyzeCommand, JsonHasTheResultWithoutTheSpectrogramGrid) {
    const auto result = runCli({"analyze", writeHalfScaleSine().string(), "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(linesOf(result.standardOutput).size(), 1u);
    const auto object = nlohmann::json::parse(result.standardOutput);
    for (const char* key : {"overallScore", "warmth", "clarity", "dynamics", "spaciousness", "macBookScore",
                            "paSystemScore", "verdictLabel", "verdictSentence", "analysisDetails", "spectrogramData"})
        EXPECT_TRUE(object.contains(key)) << key;
    const auto& details = object["analysisDetails"];
    // A true peak: the sine, cut off at the file's end, rings a little above its amplitude.
    EXPECT_NEAR(details["truePeakDB"].get<double>(), -6.02, 0.03);
    EXPECT_NEAR(details["truePeakLevel"].get<double>(), 0.5, 0.005);
    EXPECT_EQ(details["channels"].get<int>(), 2);
    EXPECT_NEAR(details["duration"].get<double>(), 3.0, 1e-9);
    EXPECT_TRUE(details["spectralBalance"].contains("highMid"));
    const auto& grid = object["spectrogramData"];
    EXPECT_FALSE(grid.contains("magnitudes"));
    EXPECT_EQ(grid["frequencyBinCount"].get<int>(), 2048);
    EXPECT_GT(grid["timeBinCount"].get<int>(), 0);
    EXPECT_LE(grid["minDB"].get<double>(), grid["maxDB"].get<double>());
}

TEST(AnalyzeCommand, BadInputAndBadArguments) {
    const auto missing = runCli({"analyze", scratchPath("missing.wav").string()});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_TRUE(contains(missing.standardError, "missing.wav")) << missing.standardError;
    EXPECT_EQ(linesOf(missing.standardError).size(), 1u);

    const auto text = scratchPath("text.wav");
    { std::ofstream(text) << "this is not audio"; }
    const auto notAudio = runCli({"analyze", text.string(), "--json"});
    EXPECT_EQ(notAudio.exitStatus, 1);
    EXPECT_TRUE(contains(notAudio.standardError, "text.wav")) << notAudio.standardError;
    EXPECT_TRUE(notAudio.standardOutput.empty());

    EXPECT_EQ(runCli({"analyze"}).exitStatus, 2);
    EXPECT_EQ(runCli({"analyze", text.string(), "-o", "x.wav"}).exitStatus, 2); // -o needs --repair
    EXPECT_EQ(runCli({"analyze", text.string(), "--bogus"}).exitStatus, 2);
}

TEST(AnalyzeCommand, RepairMastersACorrectedCopyBesideTheInput) {
    const auto input = writeMusic(scratchPath("my song.wav"), 8.0, -12.0);
    const std::string before = contentsOf(input);
    const auto result = runCli({"analyze", input.string(), "--repair"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(contains(result.standardOutput, "Plan:\n")) << result.standardOutput;
    EXPECT_TRUE(contains(result.standardOutput, "Loudness shift needed")) << result.standardOutput;

    const auto output = scratchPath("my song (MASTER).wav");
    ASSERT_TRUE(std::filesystem::exists(output));
    double rate = 0;
    const auto channels = readWithSndfile(output, &rate);
    EXPECT_EQ(rate, 44100.0);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_NEAR(double(channels[0].size()), 8.0 * 44100.0, 1.0);
    EXPECT_GT(rmsOf(channels[0]), 0.01);
    EXPECT_EQ(contentsOf(input), before); // the user's file is untouched
    // Nothing of the run stays in the temporary directory.
    EXPECT_TRUE(std::filesystem::is_empty(appTemporaryDirectory()));
}

TEST(AnalyzeCommand, RepairNeverReplacesTheInput) {
    const auto input = writeHalfScaleSine();
    const std::string before = contentsOf(input);
    const auto result = runCli({"analyze", input.string(), "--repair", "-o", input.string()});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_TRUE(contains(result.standardError, "tone.wav")) << result.standardError;
    EXPECT_EQ(contentsOf(input), before);

    const auto unwritable = runCli({"analyze", input.string(), "--repair", "-o",
                                    scratchPath("no such folder/out.wav").string()});
    EXPECT_EQ(unwritable.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(scratchPath("no such folder")));
}
