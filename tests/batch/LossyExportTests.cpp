#include "batch/MasterFile.h"
#include "batch/MasteringPresets.h"
#include "support/AudioMeasures.h"
#include "support/CommandRunner.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// Dense, transient-rich material: the music of the tests (drums, bass, chords) with bright noise
// bursts on every beat on top, so that peaks and cymbal-like highs are everywhere.
std::filesystem::path denseSong(const std::string& name) {
    constexpr double rate = 44100.0;
    constexpr double seconds = 12.0;
    const auto music = writeMusic(scratchPath(name + "-music.wav"), seconds, -6.0, 11, rate);
    Channels channels = readWithSndfile(music);
    const std::vector<float> clicks = clickTrack(132.0, rate, channels[0].size(), 0.5);
    const std::vector<float> hiss = whiteNoise(0.05, channels[0].size(), 3);
    for (auto& channel : channels)
        for (size_t i = 0; i < channel.size(); ++i) channel[i] = 0.6f * channel[i] + clicks[i] + hiss[i];
    const auto path = scratchPath(name + ".wav");
    writeWav(path, channels, rate);
    return path;
}

struct Measured {
    double lufs = 0.0;     // BS.1770, libebur128
    double truePeak = 0.0; // dBTP, libebur128
    size_t frames = 0;
};

Measured measuredFile(const std::filesystem::path& file) {
    double rate = 0.0;
    const Channels channels = decodedWithFfmpeg(file, &rate);
    if (channels.empty()) return {};
    const Ebur128Reading reading = measureWithEbur128(channels, rate);
    return {reading.integratedLufs, reading.truePeakDb, channels.front().size()};
}

MasteredFile mastered(const std::filesystem::path& song, const MasteringPreset& preset, ExportFormat format) {
    MasteringOptions options;
    options.input = song;
    options.targetLUFS = preset.targetLoudness;
    options.limitThreshold = preset.limitThreshold;
    options.format = format;
    return masterFile(options);
}

} // namespace

// A lossy file keeps the loudness of the WAV master of the same run and, decoded by ffmpeg, stays at
// or under the ceiling (within the 0.1 dB that true-peak meters disagree by), at every preset; the
// figures it reports are its own.
TEST(LossyExport, KeepsTheMastersLoudnessAndTheCeilingAtEveryPreset) {
    const auto song = denseSong("dense");
    for (const MasteringPreset& preset : masteringPresets) {
        const MasteredFile wav = mastered(song, preset, ExportFormat::wav);
        const Measured master = measuredFile(wav.result.outputURL);
        for (const ExportFormat format : {ExportFormat::m4a, ExportFormat::mp3}) {
            SCOPED_TRACE(std::string(preset.name) + " " + std::string(rawValue(format)));
            const MasteredFile lossy = mastered(song, preset, format);
            ASSERT_FALSE(lossy.conversionFailed);
            EXPECT_EQ(lossy.result.outputURL.extension().string(), std::string(".").append(fileExtension(format)));
            ASSERT_TRUE(lossy.encoding.has_value());
            EXPECT_LE(lossy.encoding->encodings, 3);
            const Measured file = measuredFile(lossy.result.outputURL);
            EXPECT_NEAR(file.lufs, master.lufs, 0.3);
            EXPECT_LE(file.truePeak, preset.limitThreshold + 0.1);
            // ffmpeg keeps an M4A's end padding; an MP3's LAME header trims both ends.
            if (format == ExportFormat::mp3) {
                EXPECT_EQ(file.frames, master.frames) << "decoded length";
            }
            EXPECT_NEAR(lossy.result.stats.truePeak, file.truePeak, 0.15);
            EXPECT_NEAR(lossy.result.stats.lufs + 0.5, file.lufs, 0.1) << "the meter reads 0.5 dB under BS.1770";
        }
    }
}
