#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

bool temporaryDirectoryIsEmpty() {
    const fs::path directory = appTemporaryDirectory();
    return !fs::exists(directory) || fs::is_empty(directory);
}

// The true peak (dBTP, one decimal) that ffmpeg's own EBU R128 meter reads from a file.
double ffmpegTruePeakDb(const fs::path& file) {
    const auto run = runProgram("/usr/bin/ffmpeg",
                                {"-nostats", "-i", file.string(), "-af", "ebur128=peak=true", "-f", "null", "-"});
    const std::string& log = run.standardError;
    const auto section = log.rfind("True peak:");
    const auto label = log.find("Peak:", section + 5);
    if (section == std::string::npos || label == std::string::npos) return std::nan("");
    return std::stod(log.substr(label + 5));
}

} // namespace

TEST(MasterCommand, DefaultsWriteTheMasterBesideTheInputAtTheLoudPreset) {
    const fs::path input = writeMusic(scratchPath("Night Drive_master.wav"), 20.0, -0.5);
    const std::string before = contentsOf(input);

    const auto result = runCli({"master", input.string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    const fs::path output = scratchPath("Night Drive (MASTER).wav");
    ASSERT_TRUE(fs::exists(output)) << result.standardOutput;
    EXPECT_EQ(contentsOf(input), before) << "the input must never change";
    EXPECT_NE(result.standardOutput.find("Passes: "), std::string::npos);
    EXPECT_NE(result.standardOutput.find(", true peak "), std::string::npos) << result.standardOutput;
    EXPECT_TRUE(temporaryDirectoryIsEmpty()) << "the intermediate master is removed once copied";

    const auto measured = nlohmann::json::parse(runCli({"measure", output.string(), "--json"}).standardOutput);
    EXPECT_NEAR(measured["lufs"].get<double>(), -8.0, 0.3);
    double sampleRate = 0.0;
    for (const auto& channel : readWithSndfile(output, &sampleRate)) EXPECT_LE(peakOf(channel), 0.977);
}

TEST(MasterCommand, JsonReportsInputOutputTempoPassesGainAndPath) {
    const fs::path input = writeMusic(scratchPath("quiet.wav"), 15.0, -6.0, 3);
    const fs::path output = scratchPath("out/custom.wav");
    fs::create_directories(output.parent_path());

    const auto result = runCli({"master", input.string(), "-o", output.string(), "--preset", "Extra Loud", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(linesOf(result.standardOutput).size(), 1u);
    const auto object = nlohmann::ordered_json::parse(result.standardOutput);
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"input", "output", "bpm", "passes", "gain_db", "target_reached",
                                              "gain_reduction", "soft_clip_max_db", "output_path", "streaming"}));
    keys.clear();
    for (const auto& item : object["output"].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"lufs", "lufs_bs1770", "peak", "true_peak", "rms"}));
    EXPECT_EQ(object["output_path"].get<std::string>(), output.string());
    EXPECT_NEAR(object["output"]["lufs"].get<double>(), -6.0, 1.0); // a 16 dB boost may end off by a few tenths
    EXPECT_LT(object["input"]["lufs"].get<double>(), -15.0);
    EXPECT_GE(object["passes"].get<int>(), 1);
    EXPECT_LE(object["passes"].get<int>(), 3);
    EXPECT_GT(object["gain_db"].get<double>(), 8.0);
    // Extra Loud lets the soft clipper take up to 3 dB of the peaks.
    EXPECT_GE(object["soft_clip_max_db"].get<double>(), 0.0);
    EXPECT_LE(object["soft_clip_max_db"].get<double>(), 3.0 + 1e-3);
    EXPECT_TRUE(fs::exists(output));
}

// The limiter's work comes with the report: over time, one value per slice of the song, and as the
// largest and average reduction. A second of silence before the music is a second of no reduction.
TEST(MasterCommand, TheReportCarriesTheLimitersGainReduction) {
    const double rate = 44100.0;
    const Channels music = readWithSndfile(writeMusic(scratchPath("music.wav"), 8.0, -6.0, 5));
    Channels song(2);
    for (size_t c = 0; c < 2; ++c) {
        song[c] = silence(size_t(rate));
        song[c].insert(song[c].end(), music[c].begin(), music[c].end());
    }
    const fs::path input = scratchPath("lead-in.wav");
    writeWav(input, song, rate);

    const auto result = runCli({"master", input.string(), "-o", scratchPath("json.wav").string(), "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto reduction = nlohmann::json::parse(result.standardOutput)["gain_reduction"];
    const auto envelope = reduction["envelope_db"].get<std::vector<double>>();
    const double bucket = reduction["bucket_seconds"].get<double>();
    ASSERT_FALSE(envelope.empty());
    EXPECT_LE(envelope.size(), 4000u);
    EXPECT_GE(bucket, 0.01);
    EXPECT_NEAR(bucket * double(envelope.size()), 9.0, bucket);
    const double largest = reduction["largest_db"].get<double>();
    EXPECT_NEAR(*std::max_element(envelope.begin(), envelope.end()), largest, 0.005);
    EXPECT_GT(largest, 3.0) << "Loud asks about 12 dB of gain of this song";
    EXPECT_GT(reduction["average_db"].get<double>(), 0.0);
    EXPECT_LT(reduction["average_db"].get<double>(), largest);
    const auto leadIn = size_t(0.9 / bucket);
    EXPECT_EQ(*std::max_element(envelope.begin(), envelope.begin() + std::ptrdiff_t(leadIn)), 0.0);

    const auto text = runCli({"master", input.string(), "-o", scratchPath("text.wav").string()});
    ASSERT_EQ(text.exitStatus, 0) << text.standardError;
    char line[96];
    std::snprintf(line, sizeof line, "Limit:  largest %.1f dB, average %.1f dB of gain reduction\n", largest,
                  reduction["average_db"].get<double>());
    EXPECT_NE(text.standardOutput.find(line), std::string::npos) << text.standardOutput;
}

TEST(MasterCommand, TargetAndCeilingOverrideThePreset) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 12.0, 3.0, 5);
    const auto result = runCli({"master", input.string(), "--preset", "Normal", "--target", "-12", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_NEAR(nlohmann::json::parse(result.standardOutput)["output"]["lufs"].get<double>(), -12.0, 0.3);

    // A target no clean master reaches under a low ceiling ends at the loudest clean result, and says so.
    const auto unreachable = runCli({"master", input.string(), "--target", "-3", "--ceiling", "-6"});
    ASSERT_EQ(unreachable.exitStatus, 0) << unreachable.standardError;
    EXPECT_NE(unreachable.standardOutput.find("loudest clean result"), std::string::npos) << unreachable.standardOutput;
    const auto json = runCli({"master", input.string(), "--target", "-3", "--ceiling", "-6", "--json", "-o",
                              scratchPath("loudest.wav").string()});
    EXPECT_FALSE(nlohmann::json::parse(json.standardOutput)["target_reached"].get<bool>());
}

TEST(MasterCommand, FailuresLeaveAnExistingOutputAndTheInputAlone) {
    const fs::path text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    const fs::path output = scratchPath("keep.wav");
    std::ofstream(output) << "an older export";

    const auto bad = runCli({"master", text.string(), "-o", output.string()});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_EQ(linesOf(bad.standardError).size(), 1u) << bad.standardError;
    EXPECT_NE(bad.standardError.find(text.string()), std::string::npos);
    EXPECT_EQ(contentsOf(output), "an older export");
    EXPECT_EQ(contentsOf(text), "not audio at all");

    const auto missing = runCli({"master", scratchPath("missing.wav").string()});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_FALSE(fs::exists(scratchPath("missing (MASTER).wav")));

    const fs::path song = writeMusic(scratchPath("mine.wav"), 3.0);
    const std::string before = contentsOf(song);
    const auto overwrite = runCli({"master", song.string(), "-o", song.string()});
    EXPECT_EQ(overwrite.exitStatus, 2); // a usage error, as in a batch
    EXPECT_EQ(contentsOf(song), before);

    EXPECT_EQ(runCli({"master", song.string(), "--preset", "Quiet"}).exitStatus, 2);
    EXPECT_EQ(runCli({"master"}).exitStatus, 2);
}

TEST(MasterCommand, InterruptCancelsCleanlyAndWritesNoOutput) {
    const fs::path input = writeLongMusic(scratchPath("long.wav"), 240.0, -4.0);
    const fs::path output = scratchPath("long (MASTER).wav");

    const auto result = runCli({"master", input.string()}, std::chrono::milliseconds(300));
    EXPECT_EQ(result.exitStatus, 130) << result.standardOutput << result.standardError;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(temporaryDirectoryIsEmpty()) << "no pass file may stay behind";
}

// The figures printed for an M4A master are the exported file's: its true peak as a meter reads it.
TEST(MasterCommand, FormatM4AWritesARealM4AAndLeavesTheStoredPreferenceAlone) {
    const fs::path input = writeMusic(scratchPath("club.wav"), 5.0, -2.0, 9);
    const auto result = runCli({"master", input.string(), "--format", "m4a", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const fs::path output = scratchPath("club (MASTER).m4a");
    ASSERT_TRUE(fs::exists(output)) << result.standardOutput;
    const auto decoded = runProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", output.string(), "-f", "null", "-"});
    EXPECT_EQ(decoded.exitStatus, 0) << decoded.standardError;
    const auto codec = runProgram("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of",
                                                       "csv=p=0", output.string()});
    EXPECT_NE(codec.standardOutput.find("aac"), std::string::npos);
    const auto truePeak = nlohmann::json::parse(result.standardOutput)["output"]["true_peak"];
    ASSERT_TRUE(truePeak.is_number()) << result.standardOutput;
    EXPECT_NEAR(truePeak.get<double>(), ffmpegTruePeakDb(output), 0.2);
    EXPECT_EQ(contentsOf(configDirectory() / "preferences.json").find("exportFormat"), std::string::npos)
        << "--format is for this run only";
    EXPECT_TRUE(temporaryDirectoryIsEmpty());
    EXPECT_EQ(runCli({"master", input.string(), "--format", "ogg"}).exitStatus, 2);
}

TEST(MasterCommand, ReferenceRunsTheFinalPassAndReportsTheMatchedEQ) {
    const fs::path input = writeMusic(scratchPath("track.wav"), 12.0, -3.0, 4);
    const fs::path reference = writeMusic(scratchPath("reference.wav"), 12.0, 0.0, 21);
    const auto result = runCli({"master", input.string(), "--reference", reference.string(), "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto object = nlohmann::ordered_json::parse(result.standardOutput);
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"input", "output", "bpm", "passes", "gain_db", "target_reached",
                                              "gain_reduction", "soft_clip_max_db", "output_path", "final", "matched_eq", "match_strength",
                                              "eq_curve", "streaming"}));
    EXPECT_NEAR(object["match_strength"].get<double>(), 100.0 / 7.0, 1e-4) << "Gentle unless chosen";
    ASSERT_EQ(object["eq_curve"].size(), 12u);
    for (size_t i = 0; i < 12; ++i)
        EXPECT_EQ(object["eq_curve"][i]["gain_db"].get<double>(), object["matched_eq"][i].get<double>());
    EXPECT_EQ(object["eq_curve"][0]["frequency_hz"].get<double>(), 32.0);
    EXPECT_EQ(object["eq_curve"][11]["frequency_hz"].get<double>(), 20000.0);
    const fs::path output = scratchPath("track (FINAL).wav");
    EXPECT_EQ(object["output_path"].get<std::string>(), output.string());
    EXPECT_TRUE(fs::exists(output));
    ASSERT_EQ(object["matched_eq"].size(), 12u);
    EXPECT_EQ(object["matched_eq"][10].get<double>(), 0.0) << "the 16 kHz band is never matched";
    EXPECT_EQ(object["matched_eq"][11].get<double>(), 0.0) << "the 20 kHz band is never matched";
    EXPECT_TRUE(object["final"]["lufs"].is_number());
    EXPECT_TRUE(object["final"].contains("true_peak"));
    const fs::path preferences = configDirectory() / "preferences.json";
    if (fs::exists(preferences)) {
        EXPECT_EQ(contentsOf(preferences).find("Orvanta_ReferenceSpectralProfile"), std::string::npos)
            << "the window's stored reference is left as it was";
    }
    EXPECT_TRUE(temporaryDirectoryIsEmpty());

    const auto badReference = runCli({"master", input.string(), "--reference", scratchPath("none.wav").string()});
    EXPECT_EQ(badReference.exitStatus, 1);
    EXPECT_EQ(linesOf(badReference.standardError).size(), 1u) << badReference.standardError;
}

TEST(MasterCommand, MatchAmountIsAPercentageForAReferenceRun) {
    const fs::path input = writeMusic(scratchPath("track.wav"), 12.0, -3.0, 4);
    const fs::path reference = writeMusic(scratchPath("reference.wav"), 12.0, -6.0, 21);
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--reference", reference.string(), "--match-amount", "150"},
          {"--reference", reference.string(), "--match-amount", "-1"},
          {"--reference", reference.string(), "--match-amount", "strong"},
          {"--reference", reference.string(), "--match-amount"},
          {"--match-amount", "50"}}) {
        std::vector<std::string> args = {"master", input.string()};
        args.insert(args.end(), wrong.begin(), wrong.end());
        const auto result = runCli(args);
        EXPECT_EQ(result.exitStatus, 2) << wrong.back();
        const auto lines = linesOf(result.standardError);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.front().find("--match-amount"), std::string::npos) << "the first line names the option";
    }
    EXPECT_FALSE(fs::exists(scratchPath("track (FINAL).wav")));

    const auto result =
        runCli({"master", input.string(), "--reference", reference.string(), "--match-amount", "100", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto object = nlohmann::json::parse(result.standardOutput);
    EXPECT_EQ(object["match_strength"].get<double>(), 100.0);
    ASSERT_EQ(object["eq_curve"].size(), 12u);
    double largest = 0.0;
    for (const auto& band : object["eq_curve"]) largest = std::max(largest, std::fabs(band["gain_db"].get<double>()));
    EXPECT_LE(largest, 6.0);
    EXPECT_GT(largest, 0.5) << "different music, a curve that does something";
    EXPECT_EQ(object["eq_curve"][10]["gain_db"].get<double>(), 0.0);
    const fs::path preferences = configDirectory() / "preferences.json";
    if (fs::exists(preferences)) {
        EXPECT_EQ(contentsOf(preferences).find("MatchStrength"), std::string::npos)
            << "the window's chosen strength is left as it was";
    }

    const auto text = runCli({"master", input.string(), "--reference", reference.string(), "--match-amount", "medium"});
    ASSERT_EQ(text.exitStatus, 0) << text.standardError;
    EXPECT_NE(text.standardOutput.find("Match:  Medium"), std::string::npos) << text.standardOutput;
}
