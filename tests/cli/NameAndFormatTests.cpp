// orvanta-cli with names at the file system's limit, names that look like options, and formats that
// AAC cannot carry.
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// "codec_name,sample_rate" of a file's first audio stream, as ffprobe reads it.
std::string probedStream(const fs::path& file) {
    const auto probe = runProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                       "stream=codec_name,sample_rate", "-of", "csv=p=0", file.string()});
    return linesOf(probe.standardOutput).empty() ? "" : linesOf(probe.standardOutput).front();
}

} // namespace

// --- Names ---------------------------------------------------------------------------------------------

TEST(Names, LongLegalNamesWorkForTheOutputAndTheInput) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -6.0);
    const fs::path longOutput = scratchPath(std::string(245, 'o') + ".wav"); // 249 characters
    const auto result = runCli({"master", input.string(), "-o", longOutput.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(fs::exists(longOutput));

    // A song with a 249-character name: its default output name would pass the limit, which is said
    // before any work; with a name given, the run works (the engine's own file names stay short).
    const fs::path longInput = scratchPath(std::string(245, 'i') + ".wav");
    fs::copy_file(input, longInput);
    const auto defaultName = runCli({"master", longInput.string()});
    EXPECT_EQ(defaultName.exitStatus, 1);
    EXPECT_NE(defaultName.standardError.find("File name too long"), std::string::npos) << defaultName.standardError;
    EXPECT_NE(defaultName.standardError.find("-o"), std::string::npos) << defaultName.standardError;
    EXPECT_EQ(defaultName.standardOutput, "");
    const auto named = runCli({"master", longInput.string(), "-o", scratchPath("short.wav").string()});
    EXPECT_EQ(named.exitStatus, 0) << named.standardError;
    const auto repaired = runCli({"analyze", longInput.string(), "--repair", "-o", scratchPath("fixed.wav").string()});
    EXPECT_EQ(repaired.exitStatus, 0) << repaired.standardError;

    EXPECT_FALSE(hasPartialFiles(scratchDirectory()));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(Names, DoubleDashEndsTheOptionsAndHelpAndVersionSucceed) {
    const fs::path input = writeMusic(scratchPath("-dash.wav"), 2.0, -6.0);
    const fs::path output = scratchPath("out.wav");
    const fs::path relative = "-dash.wav";
    fs::current_path(scratchDirectory());

    const auto asOption = runCli({"master", relative.string(), "-o", output.string()});
    EXPECT_EQ(asOption.exitStatus, 2);
    EXPECT_NE(asOption.standardError.find("\"--\""), std::string::npos) << asOption.standardError;
    const auto afterDashes = runCli({"master", "-o", output.string(), "--", relative.string()});
    EXPECT_EQ(afterDashes.exitStatus, 0) << afterDashes.standardError;
    EXPECT_TRUE(fs::exists(output));
    EXPECT_EQ(runCli({"measure", "--json", "--", relative.string()}).exitStatus, 0);
    EXPECT_EQ(runCli({"analyze", "--", relative.string()}).exitStatus, 0);

    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"master", "--help"}, {"analyze", "-h"}, {"measure", "--help"}, {"--help"}}) {
        const auto help = runCli(words);
        EXPECT_EQ(help.exitStatus, 0) << words.front();
        EXPECT_NE(help.standardOutput.find("usage: orvanta-cli"), std::string::npos);
    }
    const auto version = runCli({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.standardOutput.rfind("orvanta-cli ", 0), 0u) << version.standardOutput;
}

// --- Formats -------------------------------------------------------------------------------------------

TEST(Formats, HighRatesBecomeA48KilohertzM4AWithANoteAndJsonStaysClean) {
    const fs::path input = scratchPath("hires.wav");
    writeWav(input, {sine(1000.0, 0.3, 192000.0, 192000 * 3), sine(500.0, 0.3, 192000.0, 192000 * 3)}, 192000.0,
             SampleFormat::pcm24);
    const fs::path output = scratchPath("hires.m4a");
    const auto json = runCli({"master", input.string(), "--json", "--format", "m4a", "-o", output.string()});
    ASSERT_EQ(json.exitStatus, 0) << json.standardError;
    ASSERT_EQ(linesOf(json.standardOutput).size(), 1u) << json.standardOutput;
    const auto object = nlohmann::json::parse(json.standardOutput);
    ASSERT_TRUE(object.contains("notes")) << json.standardOutput;
    EXPECT_NE(object["notes"][0].get<std::string>().find("resampled from 192 kHz to 48 kHz"), std::string::npos);
    EXPECT_EQ(probedStream(output), "aac,48000");

    const auto text = runCli({"master", input.string(), "-o", output.string()});
    ASSERT_EQ(text.exitStatus, 0) << text.standardError;
    EXPECT_NE(text.standardOutput.find("Note:   AAC carries at most 96 kHz"), std::string::npos) << text.standardOutput;
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

TEST(Formats, AFileNamedM4AIsAlwaysM4A) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 3.0, -6.0);
    const fs::path named = scratchPath("named.M4A");
    const auto byName = runCli({"master", input.string(), "-o", named.string()});
    ASSERT_EQ(byName.exitStatus, 0) << byName.standardError;
    EXPECT_EQ(probedStream(named).rfind("aac,", 0), 0u) << "the extension chose the format";

    const auto contradiction = runCli({"master", input.string(), "--format", "wav", "-o", named.string()});
    EXPECT_EQ(contradiction.exitStatus, 2);
    EXPECT_NE(contradiction.standardError.find("contradicts"), std::string::npos) << contradiction.standardError;

    // A name that promises an audio format that is not written would hold other data: refused before
    // any work.
    for (const char* name : {"song.ogg", "song.AIFF"}) {
        const fs::path promised = scratchPath(name);
        const auto refused = runCli({"master", input.string(), "-o", promised.string()});
        EXPECT_EQ(refused.exitStatus, 2) << name;
        EXPECT_NE(refused.standardError.find("name it .wav, .flac, .m4a or .mp3"), std::string::npos) << refused.standardError;
        EXPECT_FALSE(fs::exists(promised)) << name;
    }

    // Nine channels: AAC carries at most eight. The run fails; no WAV data goes out under .m4a.
    const fs::path wide = scratchPath("wide.wav");
    writeWav(wide, Channels(9, sine(220.0, 0.2, 44100.0, 44100 * 2)), 44100.0);
    const fs::path wideOut = scratchPath("wide.m4a");
    const auto failed = runCli({"master", wide.string(), "-o", wideOut.string(), "--json"});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_EQ(failed.standardOutput, "") << "stdout holds nothing but the report";
    EXPECT_EQ(linesOf(failed.standardError).size(), 1u) << failed.standardError;
    EXPECT_NE(failed.standardError.find("cannot write the M4A"), std::string::npos) << failed.standardError;
    EXPECT_NE(failed.standardError.find("AAC cannot carry 9 channels"), std::string::npos) << failed.standardError;
    EXPECT_FALSE(fs::exists(wideOut));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}
