// What a master must be, measured from outside the engine: its true peak at or under the ceiling at
// every preset and at lower ceilings, no flat-topped peaks, and pure tones pushed into the limiter
// coming out without distortion.
#include "batch/AudioProcessor.h"
#include "engine/LimiterPass.h"
#include "support/AudioMeasures.h"
#include "support/RecordingStatusReporter.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

// Dense, transient-rich material: a busy song with sharp clicks and bright noise over it.
fs::path denseSong(const std::string& name, double seconds, uint32_t seed) {
    const double rate = 44100;
    const auto song = writeMusic(scratchPath(name + "-base.wav"), seconds, -6.0, seed, rate);
    Channels channels = readWithSndfile(song);
    const auto clicks = clickTrack(150, rate, channels[0].size(), 0.5);
    const auto noise = whiteNoise(0.08, channels[0].size(), seed + 10);
    for (size_t i = 0; i < channels[0].size(); ++i) {
        channels[0][i] += clicks[i] + noise[i];
        channels[1][i] += 0.7f * clicks[i] - noise[i];
    }
    const auto path = scratchPath(name + ".wav");
    writeWav(path, channels, rate);
    return path;
}

struct PresetRun { const char* name; float target; float ceiling; };

} // namespace

TEST(CleanMaster, TruePeakStaysUnderTheCeilingWithoutFlatTopsAtEveryPresetAndCeiling) {
    const PresetRun runs[] = {{"Normal", -10.0f, -0.2f}, {"Loud", -8.0f, -0.3f}, {"Extra Loud", -6.0f, -0.5f},
                        {"Loud at -1", -8.0f, -1.0f}, {"Loud at -3", -8.0f, -3.0f}};
    const auto input = denseSong("dense", 20, 3);
    for (const PresetRun& run : runs) {
        RecordingStatusReporter status;
        const auto result = AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true, run.target,
                                                         run.ceiling, status.events());
        const Channels master = readWithSndfile(result.outputURL);
        const Ebur128Reading reading = measureWithEbur128(master, 44100);
        const double flatTops = flatTopRunsPerMinute(master, 44100);
        std::printf("%-11s target %.1f: %.2f LUFS (libebur128 %.2f), true peak %.2f dBTP (ceiling %.1f), "
                    "%.0f flat tops/min, %d pass(es)\n",
                    run.name, run.target, result.stats.lufs, reading.integratedLufs, reading.truePeakDb, run.ceiling,
                    flatTops, result.passes);
        EXPECT_LE(reading.truePeakDb, run.ceiling) << run.name;
        EXPECT_GT(reading.truePeakDb, run.ceiling - 0.2) << run.name << ": the ceiling is used";
        EXPECT_LT(flatTops, 200.0) << run.name;
        fs::remove(result.outputURL);
    }
}

TEST(CleanMaster, TonesPushedOverTheThresholdComeOutClean) {
    // Sines 6 dB over the band threshold of the "Loud" chain; at 12 dB the bands' own gain computer
    // takes over and those figures are only reported.
    const double rate = 44100;
    const float threshold = limiterThresholdFor(-8.0f, -0.3f);
    struct Tone { double frequency; double limitAt6Db; };
    for (const Tone tone : {Tone{100, -50}, Tone{1000, -70}, Tone{5000, -70}}) {
        const auto in = scratchPath("tone.wav");
        writeWav(in, replicate(sine(tone.frequency, 0.5, rate, size_t(rate * 3)), 2), rate);
        for (double overDb : {6.0, 12.0}) {
            const float gain = float(threshold * std::pow(10.0, overDb / 20.0) / 0.5);
            const auto out = scratchPath("tone-out.wav");
            renderLimiterPass(in, out, gain, 120, -8.0f, -0.3f, nullptr, nullptr);
            const double thd = thdPlusNoiseDb(readWithSndfile(out)[0], rate, tone.frequency);
            std::printf("%5.0f Hz, %2.0f dB over: THD+N %.1f dB\n", tone.frequency, overDb, thd);
            if (overDb == 6.0) {
                EXPECT_LE(thd, tone.limitAt6Db) << tone.frequency;
            }
        }
    }
}
