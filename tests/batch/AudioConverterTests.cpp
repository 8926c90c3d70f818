#include "batch/AudioConverter.h"
#include "batch/ExportFormat.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/TemporaryDirectory.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// A rendered master as the pipeline leaves it: 24-bit WAV in the private temporary directory.
std::filesystem::path renderedWav(const std::string& name, double seconds, double rate = 44100.0) {
    const auto path = privateTemporaryDirectory() / name;
    writeMusic(path, seconds, -4.0, 7, rate);
    return path;
}

} // namespace

TEST(ExportFormat, DecodesOnlyTheExactStoredValues) {
    EXPECT_EQ(exportFormatFromStored(std::string("M4A")), ExportFormat::m4a);
    EXPECT_EQ(exportFormatFromStored(std::string("WAV")), ExportFormat::wav);
    EXPECT_EQ(exportFormatFromStored(std::string("m4a")), ExportFormat::wav);
    EXPECT_EQ(exportFormatFromStored(std::string("")), ExportFormat::wav);
    EXPECT_EQ(exportFormatFromStored(std::nullopt), ExportFormat::wav);
    EXPECT_EQ(rawValue(ExportFormat::m4a), "M4A");
    EXPECT_EQ(fileExtension(ExportFormat::m4a), "m4a");
    EXPECT_EQ(fileExtension(ExportFormat::wav), "wav");
}

TEST(AudioConverter, WavToWavReturnsTheInputUntouched) {
    const auto wav = renderedWav("song_master.wav", 2.0);
    const auto before = readWithSndfile(wav);
    EXPECT_EQ(AudioConverter::convert(wav, ExportFormat::wav), wav);
    EXPECT_EQ(readWithSndfile(wav), before);
}

// The M4A decodes with ffmpeg and with our reader, keeps rate, channels and length (within the
// encoder's priming and padding), and measures like its WAV.
TEST(AudioConverter, M4AIsRealAacWithTheWavsLengthAndLoudness) {
    const double rate = 48000.0;
    const auto wav = renderedWav("song_master.wav", 20.0, rate);
    const auto m4a = AudioConverter::convert(wav, ExportFormat::m4a);
    EXPECT_EQ(m4a, privateTemporaryDirectory() / "song_master.m4a");
    ASSERT_TRUE(std::filesystem::exists(m4a));
    EXPECT_TRUE(std::filesystem::exists(wav)) << "the converter never removes its input";

    const CommandResult probe = runProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", m4a.string(), "-f", "null", "-"});
    EXPECT_EQ(probe.exitStatus, 0) << probe.standardError;
    const CommandResult codec = runProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                            "stream=codec_name", "-of", "csv=p=0", m4a.string()});
    EXPECT_NE(codec.standardOutput.find("aac"), std::string::npos) << codec.standardOutput;

    AudioFileReader source(wav);
    AudioFileReader encoded(m4a);
    EXPECT_EQ(encoded.sampleRate(), rate);
    EXPECT_EQ(encoded.channelCount(), 2u);
    EXPECT_LE(std::llabs(encoded.lengthFrames() - source.lengthFrames()), 2048);

    const AudioStats original = analyzeAudioFile(wav);
    const AudioStats converted = analyzeAudioFile(m4a);
    EXPECT_NEAR(converted.lufs, original.lufs, 0.2);
}

TEST(AudioConverter, FailuresAreErrorsAndNeverAnM4ANamedWav) {
    // Missing input.
    try {
        AudioConverter::convert(privateTemporaryDirectory() / "missing.wav", ExportFormat::m4a);
        FAIL() << "a missing input must fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.domain(), AudioConverter::domain);
        EXPECT_EQ(e.code(), int(AudioConverter::ConversionError::fileNotFound));
    }
    // Not audio: no .m4a appears, and the input stays.
    const auto text = privateTemporaryDirectory() / "notes_master.wav";
    std::ofstream(text) << "not audio at all";
    EXPECT_THROW(AudioConverter::convert(text, ExportFormat::m4a), Error);
    EXPECT_FALSE(std::filesystem::exists(privateTemporaryDirectory() / "notes_master.m4a"));
    EXPECT_TRUE(std::filesystem::exists(text));
}

TEST(AudioConverter, FinishExportMapsTheEncodersOutcomes) {
    const auto output = privateTemporaryDirectory() / "done.m4a";
    std::ofstream(output) << "x";
    EXPECT_EQ(AudioConverter::finishExport(int(AudioConverter::ExportStatus::completed), output), output);
    const auto expectFailure = [](int status, const std::filesystem::path& path, const std::string& text) {
        try {
            AudioConverter::finishExport(status, path);
            FAIL() << "status " << status;
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), int(AudioConverter::ConversionError::exportFailure));
            EXPECT_NE(e.description().find(text), std::string::npos) << e.description();
        }
    };
    expectFailure(int(AudioConverter::ExportStatus::completed), privateTemporaryDirectory() / "absent.m4a",
                  "Output file was not created");
    expectFailure(int(AudioConverter::ExportStatus::cancelled), output, "Export was cancelled");
    expectFailure(7, output, "Unexpected export status: 7");
}
