#include "batch/AudioConverter.h"
#include "batch/LossyCeilingEncoder.h"
#include "batch/ExportFormat.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/LossyEncoder.h"
#include "platform/TemporaryDirectory.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// A rendered master as the pipeline leaves it: 24-bit WAV in the private temporary directory.
std::filesystem::path renderedWav(const std::string& name, double seconds, double rate = 44100.0) {
    const auto path = privateTemporaryDirectory() / name;
    writeMusic(path, seconds, -4.0, 7, rate);
    return path;
}

// libebur128's true peak (dBTP) of decoded audio.
double referenceTruePeakDb(const Channels& channels, double rate) {
    ebur128_state* state = ebur128_init(unsigned(channels.size()), static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK);
    std::vector<float> interleaved(channels.size() * channels[0].size());
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    ebur128_add_frames_float(state, interleaved.data(), channels[0].size());
    double peak = 0.0;
    for (unsigned c = 0; c < channels.size(); ++c) {
        double channelPeak = 0.0;
        ebur128_true_peak(state, c, &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&state);
    return 20.0 * std::log10(peak);
}

// Dense music scaled so that its true peak sits exactly at `ceilingDb`, as a master leaves the limiter.
std::filesystem::path masterAtCeiling(const std::string& name, float ceilingDb, double rate = 44100.0) {
    const auto path = privateTemporaryDirectory() / name;
    writeMusic(path, 8.0, -1.0, 11, rate);
    Channels channels = readWithSndfile(path);
    const double scale = std::pow(10.0, (ceilingDb - referenceTruePeakDb(channels, rate)) / 20.0);
    for (auto& channel : channels)
        for (float& sample : channel) sample = float(sample * scale);
    writeWav(path, channels, rate);
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
    EXPECT_EQ(exportFormatFromStored(std::string("FLAC16")), ExportFormat::flac16);
    EXPECT_EQ(exportFormatFromStored(std::string("flac")), ExportFormat::wav);
}

TEST(AudioConverter, WavToWavReturnsTheInputUntouched) {
    const auto wav = renderedWav("song_master.wav", 2.0);
    const auto before = readWithSndfile(wav);
    EXPECT_EQ(AudioConverter::convert(wav, ExportFormat::wav, -0.3f).url, wav);
    EXPECT_EQ(readWithSndfile(wav), before);
}

// Lossless formats go beside the master under names of their own (a 16-bit WAV is never the 24-bit
// master itself); the master stays; a file already converted is returned as it is.
TEST(AudioConverter, LosslessFormatsGetTheirOwnNamesAndLeaveTheMaster) {
    const auto wav = renderedWav("song_master.wav", 2.0);
    writeWav(wav, readWithSndfile(wav), 44100.0, SampleFormat::pcm24);
    const std::string masterBytes = contentsOf(wav);
    const auto directory = privateTemporaryDirectory();
    const auto flac = AudioConverter::convert(wav, ExportFormat::flac, -0.3f).url;
    const auto sixteen = AudioConverter::convert(wav, ExportFormat::wav16, -0.3f).url;
    const auto floats = AudioConverter::convert(wav, ExportFormat::wavFloat, -0.3f).url;
    EXPECT_EQ(flac, directory / "song_master.flac");
    EXPECT_EQ(sixteen, directory / "song_master_16bit.wav");
    EXPECT_EQ(floats, directory / "song_master_float.wav");
    EXPECT_EQ(contentsOf(wav), masterBytes);
    EXPECT_EQ(readWithSndfile(flac), readWithSndfile(wav));
    EXPECT_EQ(readWithSndfile(floats), readWithSndfile(wav));
    const std::string sixteenBytes = contentsOf(sixteen);
    EXPECT_EQ(AudioConverter::convert(sixteen, ExportFormat::wav16, -0.3f).url, sixteen);
    EXPECT_EQ(contentsOf(sixteen), sixteenBytes);
}

// The M4A decodes with ffmpeg and with our reader, keeps rate, channels and length (within the
// encoder's priming and padding), and measures like its WAV.
TEST(AudioConverter, M4AIsRealAacWithTheWavsLengthAndLoudness) {
    const double rate = 48000.0;
    const auto wav = renderedWav("song_master.wav", 8.0, rate);
    const auto m4a = AudioConverter::convert(wav, ExportFormat::m4a, -0.3f).url;
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
        AudioConverter::convert(privateTemporaryDirectory() / "missing.wav", ExportFormat::m4a, -0.3f);
        FAIL() << "a missing input must fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.domain(), AudioConverter::domain);
        EXPECT_EQ(e.code(), int(AudioConverter::ConversionError::fileNotFound));
    }
    // Not audio: no .m4a appears, and the input stays.
    const auto text = privateTemporaryDirectory() / "notes_master.wav";
    std::ofstream(text) << "not audio at all";
    EXPECT_THROW(AudioConverter::convert(text, ExportFormat::m4a, -0.3f), Error);
    EXPECT_FALSE(std::filesystem::exists(privateTemporaryDirectory() / "notes_master.m4a"));
    EXPECT_TRUE(std::filesystem::exists(text));

    // Cancelled once the first encoding is written, while it is measured: nothing of it stays.
    const auto wav = renderedWav("song_master.wav", 2.0);
    int questions = 0;
    try {
        AudioConverter::convert(wav, ExportFormat::m4a, -0.3f, [&] { return ++questions > 1; });
        FAIL() << "a cancelled conversion must fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), int(AudioConverter::ConversionError::exportFailure));
        EXPECT_EQ(e.description(), "Export was cancelled");
    }
    EXPECT_GT(questions, 1);
    for (const auto& entry : std::filesystem::directory_iterator(privateTemporaryDirectory())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(entry.path().extension() != ".m4a" && name.find(".partial-") == std::string::npos) << name;
    }
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

// A file that is no run's master (no remaster possible) is encoded a little quieter where the codec
// overshoots, so the decoded M4A stays at or under the ceiling, and the converter reports the true
// peak the file really has.
TEST(AudioConverter, M4AOfAMasterAtTheCeilingStaysAtOrUnderIt) {
    for (const float ceiling : {-0.3f, -1.0f}) {
        SCOPED_TRACE(ceiling);
        const auto wav = masterAtCeiling("peaky_master.wav", ceiling);
        const AudioConverter::Conversion conversion = AudioConverter::convert(wav, ExportFormat::m4a, ceiling);
        const double measured = referenceTruePeakDb(decodedWithFfmpeg(conversion.url), 44100.0);
        EXPECT_LE(measured, ceiling);
        ASSERT_TRUE(conversion.truePeakDb.has_value());
        EXPECT_NEAR(*conversion.truePeakDb, measured, 0.15);
        // Only about the overshoot is taken away, not the loudness.
        const double lostLU = analyzeAudioFile(wav).lufs - analyzeAudioFile(conversion.url).lufs;
        EXPECT_LT(lostLU, 0.5);
        for (const auto& entry : std::filesystem::directory_iterator(privateTemporaryDirectory()))
            EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
    }
}

// A master too quiet under one ceiling is quieter still under a lower one: once refused, the encoder
// never asks for a master at or under that ceiling again (each would cost a whole master on a dense
// song), and the file is still written, at or near the ceiling the accepted master had.
TEST(AudioConverter, AMasterRefusedUnderACeilingIsNotAskedForUnderALowerOne) {
    const float ceiling = -1.0f;
    const auto wav = masterAtCeiling("refusing_master.wav", ceiling);
    int refusals = 0;
    std::optional<float> highestRefused;
    int made = 0;
    const Remaster remaster = [&](float lowered, float) -> std::optional<std::filesystem::path> {
        if (highestRefused) {
            EXPECT_GT(lowered, *highestRefused);
        }
        if (lowered < ceiling) {
            ++refusals;
            highestRefused = std::max(lowered, highestRefused.value_or(lowered));
            return std::nullopt;
        }
        const auto again = privateTemporaryDirectory() / ("again_" + std::to_string(++made) + ".wav");
        std::filesystem::copy_file(wav, again, std::filesystem::copy_options::overwrite_existing);
        return again;
    };
    const auto output = privateTemporaryDirectory() / "refusing.m4a";
    const CeilingEncoding encoding =
        encodeUnderCeiling(wav, output, LossyCodec::aac, ceiling, remaster, {}, analyzeAudioFile(wav).lufs);
    EXPECT_EQ(refusals, 1) << "the material must overshoot for this to test anything";
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_EQ(encoding.masterCeilingDb, ceiling);
}

// With headroom there is nothing to correct: one encoding at unity gain, the plain encoder's output.
TEST(AudioConverter, M4AWithHeadroomIsEncodedOnceAsItIs) {
    const auto quiet = masterAtCeiling("quiet_master.wav", -6.0f);
    const auto plain = privateTemporaryDirectory() / "plain.m4a";
    const auto underCeiling = privateTemporaryDirectory() / "under.m4a";
    encodeM4A(quiet, plain);
    const CeilingEncoding encoding = encodeM4AUnderCeiling(quiet, underCeiling, -0.3f);
    EXPECT_EQ(encoding.encodings, 1);
    EXPECT_EQ(encoding.gainDb, 0.0f);
    EXPECT_LT(encoding.truePeakDb, -5.0);
    EXPECT_EQ(decodedWithFfmpeg(underCeiling), decodedWithFfmpeg(plain));
}
