// The command line reads the user's preferences but never writes them: a run with a reference
// leaves an empty preference folder empty, and a stored preference file byte for byte as it was.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

using namespace orvanta::test;
namespace fs = std::filesystem;

TEST(PreferenceFreeRun, AReferenceRunWritesNoPreference) {
    const fs::path input = writeMusic(scratchPath("track.wav"), 10.0, -3.0, 4);
    const fs::path reference = writeMusic(scratchPath("reference.wav"), 10.0, 0.0, 21);

    const fs::path empty = scratchPath("empty-config");
    fs::create_directories(empty);
    RunOptions inEmpty;
    inEmpty.environment = {{"ORVANTA_CONFIG_DIR", empty.string()}};
    const auto first = runCli({"master", input.string(), "--reference", reference.string(), "-o",
                               scratchPath("first.wav").string(), "--json"},
                              inEmpty);
    ASSERT_EQ(first.exitStatus, 0) << first.standardError;
    EXPECT_TRUE(fs::is_empty(empty)) << "nothing is stored by a command-line run";

    // A stored choice of the window is read (the strength) and left exactly as it was.
    const fs::path stored = scratchPath("stored-config");
    fs::create_directories(stored);
    const std::string preferences =
        R"({"Orvanta_referenceMatchStrength":{"type":"float","value":100.0},"exportFormat":{"type":"string","value":"wav"}})";
    std::ofstream(stored / "preferences.json", std::ios::binary) << preferences;
    RunOptions inStored;
    inStored.environment = {{"ORVANTA_CONFIG_DIR", stored.string()}};
    const auto second = runCli({"master", input.string(), "--reference", reference.string(), "-o",
                                scratchPath("second.wav").string(), "--json"},
                               inStored);
    ASSERT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_EQ(nlohmann::json::parse(second.standardOutput)["match_strength"].get<double>(), 100.0);
    EXPECT_EQ(contentsOf(stored / "preferences.json"), preferences);
    EXPECT_EQ(std::distance(fs::directory_iterator(stored), fs::directory_iterator{}), 1);
}
