// The command line with input that cannot be measured: analyze and master refuse it with a reason,
// and an unusable reference leaves a plain master with a note.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

struct Unmeasurable {
    const char* name;
    Channels channels;
    const char* reason;
};

std::vector<Unmeasurable> unmeasurableInputs() {
    const double rate = 44100;
    return {
        {"one sample", {{0.5f}, {0.5f}}, "too short to measure"},
        {"50 ms", replicate(sine(1000, 0.5, rate, size_t(rate * 0.05)), 2), "too short to measure"},
        {"only NaN", replicate(std::vector<float>(size_t(rate), std::numeric_limits<float>::quiet_NaN()), 2),
         "not numbers (NaN)"},
        {"+354 dBFS", replicate(std::vector<float>(size_t(rate), 5.0e17f), 2), "+354.0 dBFS"},
        {"digital silence", replicate(silence(size_t(rate * 2)), 2), "silent"},
    };
}

} // namespace

TEST(UnmeasurableInputCommand, AnalyzeAndMasterRefuseItAndWriteNothing) {
    for (const Unmeasurable& input : unmeasurableInputs()) {
        const auto path = scratchPath("input.wav");
        writeWav(path, input.channels, 44100);
        const auto analysis = runCli({"analyze", path.string()});
        EXPECT_EQ(analysis.exitStatus, 1) << input.name;
        EXPECT_NE(analysis.standardError.find(input.reason), std::string::npos)
            << input.name << ": " << analysis.standardError;
        EXPECT_EQ(analysis.standardOutput.find("Score"), std::string::npos) << input.name;

        const auto output = scratchPath("out.wav");
        const auto master = runCli({"master", path.string(), "-o", output.string()});
        EXPECT_EQ(master.exitStatus, 1) << input.name;
        EXPECT_NE(master.standardError.find(input.reason), std::string::npos) << input.name << ": " << master.standardError;
        EXPECT_EQ(master.standardOutput.find("LUFS"), std::string::npos) << input.name << ": " << master.standardOutput;
        EXPECT_FALSE(fs::exists(output)) << input.name;
    }
    // A file without frames is empty, for the analysis as for the master.
    const auto empty = scratchPath("empty.wav");
    writeWav(empty, {{}, {}}, 44100);
    const auto analysis = runCli({"analyze", empty.string()});
    EXPECT_EQ(analysis.exitStatus, 1);
    EXPECT_NE(analysis.standardError.find("empty"), std::string::npos) << analysis.standardError;
}

TEST(UnmeasurableInputCommand, AnUnusableReferenceIsNamedAndTheSongIsMasteredWithoutIt) {
    const auto song = writeMusic(scratchPath("Song.wav"), 6.0, -6.0);
    const std::pair<const char*, Channels> references[] = {
        {"silent", replicate(silence(44100 * 3), 2)},
        {"10 ms", replicate(sine(1000, 0.5, 44100, 441), 2)},
        {"one sample", {{0.5f}, {0.5f}}},
    };
    for (const auto& [name, channels] : references) {
        const auto reference = scratchPath("reference.wav");
        writeWav(reference, channels, 44100);
        const auto run = runCli({"master", song.string(), "--reference", reference.string(), "--json"});
        ASSERT_EQ(run.exitStatus, 0) << name << ": " << run.standardError;
        EXPECT_NE(run.standardError.find("cannot be matched"), std::string::npos) << name << ": " << run.standardError;
        EXPECT_NE(run.standardError.find("reference.wav"), std::string::npos) << name;
        const auto object = nlohmann::json::parse(run.standardOutput);
        EXPECT_FALSE(object.contains("final")) << name << ": no reference pass";
        const fs::path written = object["output_path"].get<std::string>();
        EXPECT_EQ(written.filename(), "Song (MASTER).wav") << name;
        EXPECT_TRUE(fs::exists(written)) << name;
        EXPECT_NEAR(object["output"]["lufs"].get<double>(), -8.0, 0.3) << name;
        fs::remove(written);
    }
}
