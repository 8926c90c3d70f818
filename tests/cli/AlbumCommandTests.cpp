// `orvanta-cli master --album`: one gain for every song, so that the songs keep their loudness
// differences; real files through real child runs, loudness and true peak measured with libebur128.
#include "support/CommandRunner.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <map>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100.0;

// One song at `offsetsDb` from its level, each version a file of its own in `folder`.
std::vector<fs::path> versionsOfOneSong(const std::string& folder, const std::vector<double>& offsetsDb) {
    fs::create_directories(scratchPath(folder));
    const Channels song = readWithSndfile(writeMusic(scratchPath(folder + "-source.wav"), 10.0, -16.0, 7));
    std::vector<fs::path> files;
    for (const double offset : offsetsDb) {
        Channels scaled = song;
        for (auto& channel : scaled)
            for (float& sample : channel) sample *= float(std::pow(10.0, offset / 20.0));
        char name[64];
        std::snprintf(name, sizeof name, "/at %+.0f dB.wav", offset);
        files.push_back(scratchPath(folder + name));
        writeWav(files.back(), scaled, rate);
    }
    return files;
}

struct AlbumLines {
    std::map<std::string, nlohmann::json> songs; // by input path
    nlohmann::json album;
};

AlbumLines albumLines(const std::string& standardOutput) {
    AlbumLines lines;
    for (const std::string& line : linesOf(standardOutput)) {
        const auto object = nlohmann::json::parse(line);
        if (object.value("album", false))
            lines.album = object;
        else
            lines.songs[object.at("input_path").get<std::string>()] = object;
    }
    return lines;
}

} // namespace

// Three versions of one song, at 0, −14 and +4 dB: the loudest meets the target, the others get its gain
// and keep their 4 and 14 dB distances (the target leaves the chain room, so nothing is limited), and no
// true peak passes the ceiling.
TEST(AlbumCommand, TheSongsKeepTheirDistancesAndTheLoudestMeetsTheTarget) {
    const std::vector<fs::path> inputs = versionsOfOneSong("album", {0.0, -14.0, 4.0});
    const double sourceLufs = ebur128Loudness(readWithSndfile(inputs[0]), rate) - 0.5; // on this meter
    // The loudest version raised by 2 dB: its peaks stay well under the ceiling.
    const double target = std::round((sourceLufs + 4.0 + 2.0) * 10.0) / 10.0;
    ASSERT_GE(target, -30.0);
    const fs::path folder = scratchPath("album-out");
    fs::create_directories(folder);
    std::vector<std::string> command = {"master", "--album", "--json", "--jobs", "2", "--target",
                                        std::to_string(target), "--ceiling", "-1", "-o", folder.string()};
    for (const fs::path& input : inputs) command.push_back(input.string());
    const auto result = runCli(command);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const AlbumLines lines = albumLines(result.standardOutput);
    ASSERT_EQ(lines.songs.size(), 3u) << result.standardOutput;

    std::vector<double> written;
    for (const fs::path& input : inputs) {
        const auto& line = lines.songs.at(input.string());
        ASSERT_EQ(line["status"], "mastered") << line;
        const fs::path output = line["output_path"].get<std::string>();
        const Channels master = readWithSndfile(output);
        written.push_back(ebur128Loudness(master, rate) - 0.5);
        EXPECT_LE(ebur128TruePeakDb(master, rate), -1.0 + 0.05) << input;
        EXPECT_NEAR(line["album_gain_db"].get<double>(), lines.album["album_gain_db"].get<double>(), 1e-9);
        EXPECT_NEAR(line["output"]["lufs"].get<double>(), written.back(), 0.1) << input;
    }
    EXPECT_NEAR(written[2], target, 0.3) << "the loudest version sets the gain and meets the target";
    EXPECT_NEAR(written[2] - written[0], 4.0, 0.5);
    EXPECT_NEAR(written[0] - written[1], 14.0, 0.5);

    EXPECT_EQ(lines.album["songs"], 3);
    EXPECT_EQ(lines.album["failed"], 0);
    EXPECT_EQ(lines.album["set_by"], inputs[2].string());
    EXPECT_NEAR(lines.album["loudest_lufs"].get<double>(), written[2], 0.1);
    EXPECT_NEAR(lines.album["quietest_lufs"].get<double>(), written[1], 0.1);
    EXPECT_NEAR(lines.album["spread_lu"].get<double>(), 18.0, 0.5);
}

// A song that cannot be read fails on its own line; the album goes on without it and its line says so.
// The text report ends with the album's table.
TEST(AlbumCommand, AFailingSongDoesNotStopTheAlbum) {
    const std::vector<fs::path> inputs = versionsOfOneSong("album-failing", {0.0, -6.0});
    const fs::path broken = scratchPath("album-failing/broken.wav");
    std::ofstream(broken) << "not audio at all";
    const fs::path folder = scratchPath("album-failing-out");
    fs::create_directories(folder);
    // A target 2 dB above the louder song: nothing is limited.
    const double target = std::round((ebur128Loudness(readWithSndfile(inputs[0]), rate) - 0.5 + 2.0) * 10.0) / 10.0;
    const std::string targetText = std::to_string(target);
    const auto json = runCli({"master", "--album", "--json", "--target", targetText, "-o", folder.string(),
                              inputs[0].string(), broken.string(), inputs[1].string()});
    EXPECT_EQ(json.exitStatus, 1) << "a failed song fails the run";
    const AlbumLines lines = albumLines(json.standardOutput);
    ASSERT_EQ(lines.songs.size(), 3u) << json.standardOutput;
    EXPECT_EQ(lines.songs.at(broken.string())["status"], "failed");
    EXPECT_FALSE(lines.songs.at(broken.string())["error"].get<std::string>().empty());
    for (const fs::path& input : inputs) EXPECT_EQ(lines.songs.at(input.string())["status"], "mastered") << input;
    EXPECT_EQ(lines.album["failed"], 1);
    EXPECT_EQ(lines.album["mastered"], 2);
    EXPECT_NEAR(lines.album["spread_lu"].get<double>(), 6.0, 0.5);

    const auto text = runCli({"master", "--album", "--target", targetText, "-o", folder.string(), inputs[0].string(),
                              broken.string(), inputs[1].string()});
    EXPECT_EQ(text.exitStatus, 1);
    EXPECT_NE(text.standardOutput.find("Album:"), std::string::npos) << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("2 mastered, 1 failed"), std::string::npos) << text.standardOutput;
    EXPECT_NE(text.standardOutput.find("set by " + inputs[0].string()), std::string::npos) << text.standardOutput;
}
