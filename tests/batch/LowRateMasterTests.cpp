// Masters at the low rates of telephone, voice memo and old game audio: 8, 11.025, 16 and 22.05 kHz.
// The chain's filters must stay stable when the band edges move close to Nyquist: the master stays
// finite, under the ceiling in true peak (libebur128), near the target, and white noise does not
// grow an oscillation at Nyquist.
#include "batch/AudioProcessor.h"
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

constexpr double lowRates[] = {8000.0, 11025.0, 16000.0, 22050.0};

// The share of a signal's power near Nyquist: the power of its second difference (x[n] − 2x[n−1] +
// x[n−2]) / 4, whose response is sin²(ω/2), over its own power. White noise reads 0.375; a tone at
// Nyquist reads 1.
double nyquistShare(const std::vector<float>& x) {
    double emphasised = 0.0, total = 0.0;
    for (size_t n = 2; n < x.size(); ++n) {
        const double d = (double(x[n]) - 2.0 * double(x[n - 1]) + double(x[n - 2])) / 4.0;
        emphasised += d * d;
        total += double(x[n]) * double(x[n]);
    }
    return total > 0.0 ? emphasised / total : 0.0;
}

void expectCleanMaster(const fs::path& input, double rate, const char* material) {
    const float target = -8.0f, ceiling = -0.3f;
    RecordingStatusReporter status;
    const DJMasteringResult result =
        AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true, target, ceiling, status.events());
    const Channels master = readWithSndfile(result.outputURL);
    for (const auto& channel : master)
        for (float x : channel) ASSERT_TRUE(std::isfinite(x)) << material << " at " << rate;
    const Ebur128Reading reading = measureWithEbur128(master, rate);
    std::printf("%-11s %6.0f Hz: %.2f LUFS (libebur128 %.2f), true peak %.2f dBTP, %d pass(es)\n", material, rate,
                result.stats.lufs, reading.integratedLufs, reading.truePeakDb, result.passes);
    EXPECT_LE(reading.truePeakDb, ceiling) << material << " at " << rate;
    EXPECT_NEAR(result.stats.lufs, target, 0.3) << material << " at " << rate;
    // libebur128 reads 0.5 dB louder than the engine's calibrated meter.
    EXPECT_NEAR(reading.integratedLufs - 0.5, target, 1.0) << material << " at " << rate;
    fs::remove(result.outputURL);
}

} // namespace

TEST(LowRateMaster, WhiteNoiseStaysBoundedWithoutANyquistOscillation) {
    for (double rate : lowRates) {
        const auto input = scratchPath("noise.wav");
        const Channels noise = {whiteNoise(0.3, size_t(rate * 10), 1), whiteNoise(0.3, size_t(rate * 10), 2)};
        writeWav(input, noise, rate, SampleFormat::pcm24);
        RecordingStatusReporter status;
        const DJMasteringResult result =
            AudioProcessor::processAudio(input, nullptr, nullptr, false, std::nullopt, true, -8.0f, -0.3f, status.events());
        const Channels master = readWithSndfile(result.outputURL);
        EXPECT_LT(nyquistShare(master[0]), nyquistShare(noise[0]) + 0.05) << rate;
        fs::remove(result.outputURL);
        expectCleanMaster(input, rate, "white noise");
    }
}

TEST(LowRateMaster, MusicReachesTheTargetUnderTheCeiling) {
    for (double rate : lowRates) {
        const auto input = writeMusic(scratchPath("music.wav"), 12.0, -16.0, 4, rate);
        expectCleanMaster(input, rate, "music");
    }
}
