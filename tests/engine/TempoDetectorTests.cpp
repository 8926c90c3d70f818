#include "engine/TempoDetector.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;
namespace fs = std::filesystem;

namespace {

fs::path writeClicks(const std::string& name, double bpm, double rate = 44100, double seconds = 30) {
    const auto path = scratchPath(name);
    writeWav(path, replicate(clickTrack(bpm, rate, size_t(rate * seconds)), 2), rate, SampleFormat::pcm16);
    return path;
}

} // namespace

TEST(TempoDetector, FindsTheTempoOfClickTracksOnTheEvenGrid) {
    EXPECT_EQ(detectTempo(writeClicks("c90.wav", 90)), 90);
    EXPECT_EQ(detectTempo(writeClicks("c128.wav", 128)), 128);
    EXPECT_EQ(detectTempo(writeClicks("c160.wav", 160)), 160);
    const int odd = detectTempo(writeClicks("c127.wav", 127));
    EXPECT_TRUE(odd == 126 || odd == 128) << odd;
    // 48 kHz material: 10.88 envelope points per second, the same grid.
    EXPECT_EQ(detectTempo(writeClicks("c128-48k.wav", 128, 48000)), 128);
}

TEST(TempoDetector, FallsBackTo120WhenNoEstimateCanBeMade) {
    EXPECT_EQ(detectTempo(scratchPath("absent.wav")), 120);

    const auto empty = scratchPath("empty.wav");
    writeWav(empty, {{}, {}}, 44100);
    EXPECT_EQ(detectTempo(empty), 120);

    const auto shortFile = scratchPath("short.wav");
    writeWav(shortFile, replicate(clickTrack(160, 44100, 1024), 2), 44100);
    EXPECT_EQ(detectTempo(shortFile), 120);

    const auto text = scratchPath("text.wav");
    std::ofstream(text) << "not audio\n";
    EXPECT_EQ(detectTempo(text), 120);

    const auto silent = scratchPath("silent.wav");
    writeWav(silent, replicate(silence(44100 * 10), 1), 44100);
    EXPECT_EQ(detectTempo(silent), 120);
}

TEST(TempoDetector, EstimatorEdgeCases) {
    EXPECT_EQ(estimateTempo({}, 4410, 44100), 120.0);
    EXPECT_EQ(estimateTempo({1, 0, 1}, 0, 44100), 120.0);
    EXPECT_EQ(estimateTempo({1, 0, 1}, 4410, 0), 120.0);
    EXPECT_EQ(estimateTempo(std::vector<float>(50, 0.0f), 4410, 44100), 120.0); // all magnitudes 0

    const std::vector<float> samples = {0, 2, 0, 2, 1, 1, 0, 0, 0};
    EXPECT_TRUE(computeEnergyEnvelope(samples, 9, 9).empty());
    EXPECT_TRUE(computeEnergyEnvelope(samples, 9, 0).empty());
    // Chunks of 2 (the ninth sample is dropped), RMS per chunk, normalised to a peak of 1.
    const auto envelope = computeEnergyEnvelope(samples, 9, 2);
    ASSERT_EQ(envelope.size(), 4u);
    EXPECT_FLOAT_EQ(envelope[0], 1.0f);
    EXPECT_FLOAT_EQ(envelope[1], 1.0f);
    EXPECT_FLOAT_EQ(envelope[2], 1.0f / std::sqrt(2.0f));
    EXPECT_FLOAT_EQ(envelope[3], 0.0f);
}

// The cache knows a file by path, size and modification time: the same file is not estimated twice,
// and a file rewritten at the same path (as the run's own scratch files are, song after song) gets
// its own tempo instead of the previous song's.
TEST(TempoDetector, CachesByFileIdentityAndARewrittenFileGetsItsOwnTempo) {
    const auto path = writeClicks("song.wav", 90);
    EXPECT_EQ(detectTempo(path), 90);
    const auto written = fs::last_write_time(path);

    writeClicks("song.wav", 160);
    EXPECT_EQ(detectTempo(path), 160) << "rewritten: new bytes, new tempo";

    // Same path, size and time as the estimate of 160 BPM: the cached answer, not a new estimate.
    const auto rewritten = fs::last_write_time(path);
    writeClicks("song.wav", 90);
    fs::last_write_time(path, rewritten);
    EXPECT_EQ(detectTempo(path), 160) << "cached";
    fs::last_write_time(path, written);
    EXPECT_EQ(detectTempo(path), 90) << "the first version's entry";

    fs::remove(path);
    EXPECT_EQ(detectTempo(path), 120) << "gone: no estimate";
}

TEST(TempoDetector, ConcurrentDetectionsAgree) {
    const fs::path files[] = {writeClicks("a.wav", 90, 44100, 10), writeClicks("b.wav", 128, 44100, 10),
                              writeClicks("c.wav", 160, 44100, 10)};
    const int expected[] = {90, 128, 160};
    std::vector<std::thread> threads;
    std::vector<int> results(12, 0);
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] { results[t] = detectTempo(files[t % 3]); });
    }
    for (auto& thread : threads) thread.join();
    for (size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], expected[t % 3]) << t;
}
