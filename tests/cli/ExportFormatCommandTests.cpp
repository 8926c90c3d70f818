// orvanta-cli's formats, word lengths and rates, judged on the files written: decoded with ffmpeg and
// libsndfile, measured with libebur128.
#include "support/AudioMeasures.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// "codec,sample format,rate" of a file's first audio stream.
std::string probed(const fs::path& file) {
    const auto probe = runProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                       "stream=codec_name,sample_fmt,sample_rate", "-of", "csv=p=0",
                                                       file.string()});
    return linesOf(probe.standardOutput).empty() ? "" : linesOf(probe.standardOutput).front();
}

// Every sample as ffmpeg decodes it, as 32-bit integers.
std::string decodedIntegers(const fs::path& file) {
    const fs::path raw = scratchPath(file.filename().string() + ".s32");
    EXPECT_EQ(runProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-i", file.string(), "-f", "s32le", raw.string()}).exitStatus, 0);
    return contentsOf(raw);
}

fs::path mastered(const fs::path& input, const std::string& name, std::vector<std::string> options = {}) {
    const fs::path output = scratchPath(name);
    std::vector<std::string> args = {"master", input.string(), "-o", output.string()};
    args.insert(args.end(), options.begin(), options.end());
    const auto run = runCli(args);
    EXPECT_EQ(run.exitStatus, 0) << name << ": " << run.standardError;
    return output;
}

} // namespace

// One song in every lossless word length and as MP3: each file is what its name says, measures as
// the 24-bit master does, and stays under the ceiling of "Loud" (−0.3 dBTP).
TEST(ExportFormats, EveryFormatIsWhatItsNameSaysAndMeasuresAsTheMaster) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 6.0, -14.0, 5);
    const fs::path wav = mastered(input, "m24.wav");
    const fs::path flac = mastered(input, "m24.flac");
    const fs::path wav16 = mastered(input, "m16.wav", {"--bits", "16"});
    const fs::path flac16 = mastered(input, "m16.out", {"--format", "flac", "--bits", "16"});
    const fs::path floats = mastered(input, "mf.wav", {"--bits", "32"});
    const fs::path mp3 = mastered(input, "m.MP3");

    EXPECT_EQ(probed(wav), "pcm_s24le,s32,44100");
    EXPECT_EQ(probed(flac), "flac,s32,44100");
    EXPECT_EQ(probed(wav16), "pcm_s16le,s16,44100");
    EXPECT_EQ(probed(flac16), "flac,s16,44100");
    EXPECT_EQ(probed(floats), "pcm_f32le,flt,44100");
    EXPECT_EQ(probed(mp3), "mp3,fltp,44100");

    const std::string masterSamples = decodedIntegers(wav);
    ASSERT_FALSE(masterSamples.empty());
    EXPECT_EQ(decodedIntegers(flac), masterSamples) << "the 24-bit FLAC is the 24-bit master, bit for bit";
    EXPECT_EQ(readWithSndfile(floats), readWithSndfile(wav)) << "the float file holds the master's samples";
    EXPECT_EQ(frameCountOf(mp3), frameCountOf(wav)) << "the MP3 decodes gapless to the master's length";

    const double loudness = ebur128IntegratedLoudness(wav);
    for (const fs::path& file : {flac, wav16, flac16, floats}) {
        EXPECT_NEAR(ebur128IntegratedLoudness(file), loudness, 0.01) << file.filename();
        EXPECT_LE(ebur128TruePeakDb(file), -0.3 + 0.05) << file.filename();
    }
    EXPECT_NEAR(ebur128IntegratedLoudness(mp3), loudness, 0.3);
    EXPECT_FALSE(hasPartialFiles(scratchDirectory()));
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

// A master at 48 kHz from a 44.1 kHz song: resampled before limiting, so it measures as the master
// at the song's rate and its true peak at the new rate stays under each preset's ceiling.
TEST(ExportFormats, ARateConversionKeepsLoudnessAndCeilingAtEveryPreset) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 8.0, -16.0, 9);
    for (const auto& [preset, ceiling] : {std::pair{"Normal", -0.2}, std::pair{"Loud", -0.3}, std::pair{"Extra Loud", -0.5}}) {
        const fs::path native = mastered(input, "native.wav", {"--preset", preset});
        const fs::path converted = mastered(input, "converted.wav", {"--preset", preset, "--rate", "48000"});
        double convertedRate = 0.0;
        const Channels samples = readWithSndfile(converted, &convertedRate);
        EXPECT_EQ(convertedRate, 48000.0);
        EXPECT_EQ(samples.front().size(), size_t(std::llround(double(frameCountOf(native)) * 48000.0 / 44100.0)));
        EXPECT_NEAR(ebur128IntegratedLoudness(converted), ebur128IntegratedLoudness(native), 0.1) << preset;
        EXPECT_LE(ebur128TruePeakDb(converted), ceiling + 0.05) << preset;
    }
    // An MP3 of a 96 kHz song is mastered at 48 kHz, which MP3 carries, and says so.
    const fs::path hires = scratchPath("hires.wav");
    writeWav(hires, {sine(1000.0, 0.3, 96000.0, 96000 * 3), sine(500.0, 0.3, 96000.0, 96000 * 3)}, 96000.0);
    const auto run = runCli({"master", hires.string(), "-o", scratchPath("hires.mp3").string()});
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_NE(run.standardOutput.find("MP3 carries at most 48 kHz"), std::string::npos) << run.standardOutput;
    EXPECT_EQ(probed(scratchPath("hires.mp3")), "mp3,fltp,48000");
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}

// Combinations that do not exist are usage errors found before any work; nothing is written.
TEST(ExportFormats, ImpossibleCombinationsAreUsageErrors) {
    const fs::path input = writeMusic(scratchPath("song.wav"), 2.0, -14.0);
    const fs::path out = scratchPath("out");
    struct Case {
        std::vector<std::string> words;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"--format", "flac", "--bits", "32"}, "only WAV"},
        {{"--format", "m4a", "--bits", "16"}, "does not apply to M4A"},
        {{"-o", (out / "x.mp3").string(), "--bits", "24"}, "does not apply to MP3"},
        {{"--bits", "20"}, "16, 24 or 32"},
        {{"--format", "ogg"}, "wav, flac, m4a or mp3"},
        {{"--format", "wav", "-o", (out / "x.flac").string()}, "contradicts"},
        {{"--rate", "1000"}, "--rate"},
        {{"--rate", "44100.5"}, "whole number"},
        {{"--format", "mp3", "--rate", "96000"}, "MP3 carries 8 to 48 kHz"},
    };
    fs::create_directories(out);
    for (const Case& c : cases) {
        std::vector<std::string> args = {"master", input.string()};
        args.insert(args.end(), c.words.begin(), c.words.end());
        if (std::find(c.words.begin(), c.words.end(), "-o") == c.words.end()) {
            args.push_back("-o");
            args.push_back((out / "x").string());
        }
        const auto run = runCli(args);
        EXPECT_EQ(run.exitStatus, 2) << c.says;
        EXPECT_NE(run.standardError.find(c.says), std::string::npos) << run.standardError;
    }
    const auto analyze = runCli({"analyze", input.string(), "--bits", "16"});
    EXPECT_EQ(analyze.exitStatus, 2) << "--bits needs --repair";
    EXPECT_TRUE(fs::is_empty(out));
}

// Many files, an album and a repair write the format asked for.
TEST(ExportFormats, BatchAlbumAndRepairWriteTheAskedFormat) {
    const fs::path a = writeMusic(scratchPath("a.wav"), 3.0, -14.0, 1);
    const fs::path b = writeMusic(scratchPath("b.wav"), 3.0, -18.0, 2);
    const fs::path folder = scratchPath("masters");
    fs::create_directories(folder);
    const auto batch = runCli({"master", a.string(), b.string(), "-o", folder.string(), "--format", "flac", "--bits",
                               "16", "--rate", "48000", "--jobs", "2"});
    ASSERT_EQ(batch.exitStatus, 0) << batch.standardError;
    EXPECT_EQ(probed(folder / "a (MASTER).flac"), "flac,s16,48000");
    EXPECT_EQ(probed(folder / "b (MASTER).flac"), "flac,s16,48000");

    const fs::path album = scratchPath("album");
    fs::create_directories(album);
    const auto albumRun = runCli({"master", "--album", a.string(), b.string(), "-o", album.string(), "--format", "mp3"});
    ASSERT_EQ(albumRun.exitStatus, 0) << albumRun.standardError;
    EXPECT_EQ(probed(album / "a (MASTER).mp3"), "mp3,fltp,44100");

    const fs::path repaired = scratchPath("fixed.flac");
    const auto repair = runCli({"analyze", a.string(), "--repair", "-o", repaired.string(), "--bits", "16"});
    ASSERT_EQ(repair.exitStatus, 0) << repair.standardError;
    EXPECT_EQ(probed(repaired), "flac,s16,44100");
    EXPECT_TRUE(appTemporaryDirectoryIsEmpty());
}
