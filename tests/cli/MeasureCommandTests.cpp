#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

using namespace orvanta::test;

namespace {

std::filesystem::path writeFullScaleSine() {
    const auto path = scratchPath("sine 1k.wav");
    writeWav(path, replicate(sine(1000.0, 1.0, 48000.0, 48000 * 5), 2), 48000.0);
    return path;
}

} // namespace

TEST(MeasureCommand, PrintsLevelsWithUnitsAndTempo) {
    const auto result = runCli({"measure", writeFullScaleSine().string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("LUFS:  -0.5 LUFS"), std::string::npos) << result.standardOutput;
    EXPECT_NE(result.standardOutput.find("Peak:  0.0 dBFS"), std::string::npos);
    EXPECT_NE(result.standardOutput.find("True peak: "), std::string::npos);
    EXPECT_NE(result.standardOutput.find("RMS:   -2.6 dB"), std::string::npos);
    EXPECT_NE(result.standardOutput.find(" BPM"), std::string::npos);
}

TEST(MeasureCommand, JsonHasFullPrecisionNumbersInOrder) {
    const auto result = runCli({"measure", writeFullScaleSine().string(), "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    ASSERT_EQ(linesOf(result.standardOutput).size(), 1u);
    const auto object = nlohmann::ordered_json::parse(result.standardOutput);
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"lufs", "lufs_bs1770", "peak", "true_peak", "rms", "bpm", "streaming"}));
    EXPECT_NEAR(object["lufs"].get<double>(), -0.5, 0.05);
    EXPECT_NEAR(object["peak"].get<double>(), 0.0, 0.05);
    // Null while unmeasured; a full-scale 1 kHz sine has no peaks between its samples.
    if (!object["true_peak"].is_null()) {
        EXPECT_NEAR(object["true_peak"].get<double>(), 0.0, 0.1);
    }
    EXPECT_NEAR(object["rms"].get<double>(), -2.6, 0.05);
    EXPECT_TRUE(object["bpm"].is_number_integer());
}

TEST(MeasureCommand, AudioTooShortOrSilentReadsAsSuchInsteadOfFigures) {
    const std::pair<const char*, Channels> cases[] = {
        {"too short", replicate(sine(440.0, 0.5, 44100.0, 2000), 2)},
        {"silent", replicate(silence(44100 * 2), 2)},
    };
    for (const auto& [reason, channels] : cases) {
        const auto path = scratchPath("unmeasured.wav");
        writeWav(path, channels, 44100.0);
        const auto text = runCli({"measure", path.string()});
        ASSERT_EQ(text.exitStatus, 0) << text.standardError;
        EXPECT_NE(text.standardOutput.find(std::string("LUFS:  ") + reason), std::string::npos) << text.standardOutput;
        for (const char* unit : {" LUFS\n", " dBFS", " dBTP", " dB\n", " BPM"}) {
            EXPECT_EQ(text.standardOutput.find(unit), std::string::npos) << reason << ": " << text.standardOutput;
        }
        const auto json = runCli({"measure", path.string(), "--json"});
        ASSERT_EQ(json.exitStatus, 0) << json.standardError;
        const auto object = nlohmann::json::parse(json.standardOutput);
        for (const char* key : {"lufs", "lufs_bs1770", "peak", "true_peak", "rms", "bpm"}) EXPECT_TRUE(object[key].is_null()) << key;
        EXPECT_EQ(object["unmeasured"], reason);
    }
}

TEST(MeasureCommand, FailuresGiveOneLineNamingTheFile) {
    const auto missing = scratchPath("missing.wav");
    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    const auto empty = scratchPath("empty.wav");
    writeWav(empty, Channels{{}, {}}, 44100.0);

    for (const auto& file : {missing, text, empty}) {
        const auto result = runCli({"measure", file.string()});
        EXPECT_EQ(result.exitStatus, 1) << file;
        EXPECT_TRUE(result.standardOutput.empty());
        ASSERT_EQ(linesOf(result.standardError).size(), 1u) << result.standardError;
        EXPECT_NE(result.standardError.find(file.string()), std::string::npos) << result.standardError;
    }
}

TEST(MeasureCommand, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runCli({}).exitStatus, 2);
    EXPECT_EQ(runCli({"measure"}).exitStatus, 2);
    EXPECT_EQ(runCli({"measure", "a.wav", "b.wav"}).exitStatus, 2);
    EXPECT_EQ(runCli({"measure", "a.wav", "--loud"}).exitStatus, 2);
    EXPECT_EQ(runCli({"frobnicate"}).exitStatus, 2);
    EXPECT_EQ(runCli({"--help"}).exitStatus, 0);
}
