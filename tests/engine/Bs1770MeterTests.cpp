#include "analyzer/LoudnessAnalysis.h"
#include "engine/Bs1770Meter.h"
#include "engine/LoudnessMeter.h"
#include "support/Ebur128Reference.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// Squares added one after another.
float plainSumOfSquares(const float* samples, size_t count) {
    float sum = 0.0f;
    for (size_t i = 0; i < count; ++i) sum += samples[i] * samples[i];
    return sum;
}

// BS.1770 as libebur128 reads it: 400 ms gating blocks and 3 s short-term blocks, true peak.
Bs1770Config standardBlocks() {
    Bs1770Config config;
    config.shortTermSeconds = 3.0f;
    config.shortTermHopSeconds = 0.1f;
    config.truePeak = true;
    config.sumOfSquares = plainSumOfSquares;
    return config;
}

} // namespace

TEST(Bs1770Meter, BothConfigurationsAndTheHandleAgreeWithLibebur128OnARealFile) {
    // A song with a quiet verse and a loud chorus, written to a file and read back: every figure sits
    // within its tolerance of libebur128's (the engine's figures read 0.5 dB under BS.1770).
    for (double rate : {44100.0, 48000.0}) {
        const auto quiet = writeMusic(scratchPath("verse.wav"), 8.0, -16.0, 3, rate);
        const auto loud = writeMusic(scratchPath("chorus.wav"), 8.0, -4.0, 4, rate);
        Channels song = readWithSndfile(quiet);
        const Channels chorus = readWithSndfile(loud);
        for (size_t c = 0; c < song.size(); ++c) song[c].insert(song[c].end(), chorus[c].begin(), chorus[c].end());
        const auto path = scratchPath("song.wav");
        writeWav(path, song, rate);
        const Channels channels = readWithSndfile(path);
        const double integrated = ebur128Loudness(channels, rate);
        const double truePeak = ebur128TruePeakDb(channels, rate);

        const AudioStats mastering = analyzeAudioFile(path);
        EXPECT_NEAR(mastering.lufs + 0.5, integrated, 0.1) << rate;
        EXPECT_NEAR(mastering.truePeak, truePeak, 0.2) << rate;
        const auto analyzer = AudioAnalyzer::measureLoudness(toBuffer(channels, rate));
        // 200 ms blocks gate the quiet verse apart from the chorus more finely than 400 ms ones: the
        // analyzer reads such a song up to about 1 LU louder.
        EXPECT_NEAR(analyzer.integrated + 0.5, integrated, 1.0) << rate;

        // The handle itself, fed interleaved frames in uneven pieces.
        const size_t frames = channels[0].size();
        std::vector<float> interleaved(frames * channels.size());
        for (size_t i = 0; i < frames; ++i)
            for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
        Bs1770Meter meter(rate, uint32_t(channels.size()), standardBlocks(), int64_t(frames), 4096);
        for (size_t start = 0, size = 1; start < frames; start += size, size = size * 5 + 3) {
            const size_t n = std::min(size, frames - start);
            meter.addInterleaved(interleaved.data() + start * channels.size(), uint32_t(n));
        }
        meter.finish(int64_t(frames));
        EXPECT_NEAR(meter.integratedLoudness() + 0.5, integrated, 0.1) << rate;
        EXPECT_NEAR(20.0 * std::log10(meter.truePeak()), truePeak, 0.2) << rate;
        EXPECT_NEAR(meter.loudnessRange(), ebur128LoudnessRange(channels, rate), 0.3) << rate;
    }
}
