#include "PlaybackTestSupport.h"

#include "models/playback/VectorscopeManager.h"
#include "models/playback/VectorscopeSource.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace orvanta;
using namespace orvanta::test;
using namespace std::chrono_literals;

namespace {

QUrl urlOf(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

float rampValue(int64_t frame, int64_t length) { return float(0.5 * double(frame) / double(length)); }

struct Scope {
    NullPlayer player = makeNullPlayer();
    VectorscopeManager urls;
    VectorscopeSource source{*player.manager, &urls};

    // Loads and plays the file, and shows it in the scope.
    void play(const std::filesystem::path& file) {
        player.manager->loadFile(file);
        player.manager->play();
        source.setPlayingURL(urlOf(file));
    }
};

} // namespace

TEST(VectorscopeSource, AMonoFileShowsNothing) {
    Scope scope;
    scope.play(writeRamp("mono.wav", 1.0, 44100.0, 1));
    EXPECT_TRUE(scope.source.hasFile());
    EXPECT_TRUE(scope.source.isTicking());
    scope.source.tick();
    EXPECT_TRUE(scope.source.leftSamples().isEmpty());
    EXPECT_TRUE(scope.source.rightSamples().isEmpty());
}

TEST(VectorscopeSource, TheLastFramesThinToAboutOneInThree) {
    Scope scope;
    const int64_t length = 44100;
    scope.play(writeRamp("thin.wav", 1.0));
    scope.player.manager->seek(float(length - 500) / float(length));
    scope.source.tick();

    const auto position = int64_t(std::trunc(double(length) * double(scope.player.manager->currentProgress())));
    const int64_t frames = length - position;
    ASSERT_NEAR(double(frames), 500.0, 2.0);
    const int64_t step = frames >> 7;
    EXPECT_EQ(step, 3);
    const auto left = scope.source.leftSamples();
    const auto right = scope.source.rightSamples();
    EXPECT_EQ(left.size(), (frames + step - 1) / step);
    EXPECT_NEAR(double(left.size()), 167.0, 1.0);
    ASSERT_EQ(right.size(), left.size());
    for (qsizetype i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], rampValue(position + i * step, length)) << i;
        ASSERT_EQ(right[i], -left[i]);
    }
}

TEST(VectorscopeSource, ShortWindowsPlotEveryFrameAndFullWindowsAbout128) {
    Scope scope;
    const int64_t length = 44100;
    scope.play(writeRamp("short.wav", 1.0));
    scope.player.manager->seek(float(length - 100) / float(length));
    scope.source.tick();
    const auto position = int64_t(std::trunc(double(length) * double(scope.player.manager->currentProgress())));
    const auto left = scope.source.leftSamples();
    ASSERT_EQ(left.size(), length - position);
    ASSERT_LT(left.size(), 128);
    for (qsizetype i = 0; i < left.size(); ++i) ASSERT_EQ(left[i], rampValue(position + i, length));

    // A whole window of 1024 frames takes every eighth.
    scope.player.manager->seek(0.25f);
    scope.source.tick();
    EXPECT_EQ(scope.source.leftSamples().size(), 128);
}

TEST(VectorscopeSource, SamplesBeyondFullScaleAreClamped) {
    const auto path = scratchPath("hot.wav");
    writeWav(path, {std::vector<float>(4410, 1.5f), std::vector<float>(4410, -3.0f)}, 44100.0);
    Scope scope;
    scope.play(path);
    scope.source.tick();
    const auto left = scope.source.leftSamples();
    const auto right = scope.source.rightSamples();
    ASSERT_EQ(left.size(), 128);
    for (float x : left) EXPECT_EQ(x, 1.0f);
    for (float x : right) EXPECT_EQ(x, -1.0f);
}

TEST(VectorscopeSource, PausingAndStoppingEmptyTheLists) {
    Scope scope;
    scope.play(writeMusic(scratchPath("scope.wav"), 4.0));
    // The timer samples by itself while the player plays.
    ASSERT_TRUE(runEventsUntil([&] { return !scope.source.leftSamples().isEmpty(); }, 1000ms));
    EXPECT_EQ(scope.source.rightSamples().size(), scope.source.leftSamples().size());

    scope.player.manager->pause();
    EXPECT_TRUE(scope.source.leftSamples().isEmpty());
    EXPECT_TRUE(scope.source.rightSamples().isEmpty());
    EXPECT_FALSE(scope.source.isTicking());
    runEventsFor(300ms);
    EXPECT_TRUE(scope.source.leftSamples().isEmpty());

    scope.player.manager->play();
    EXPECT_TRUE(scope.source.isTicking());
    ASSERT_TRUE(runEventsUntil([&] { return !scope.source.leftSamples().isEmpty(); }, 1000ms));
    scope.player.manager->stop();
    EXPECT_TRUE(scope.source.leftSamples().isEmpty());
    EXPECT_FALSE(scope.source.isTicking());
    scope.source.tick();
    EXPECT_TRUE(scope.source.leftSamples().isEmpty()) << "a tick while stopped plots nothing";
}

TEST(VectorscopeSource, ThePreviewHearsThePlayersEQWithoutDisturbingPlayback) {
    Scope scope;
    const int64_t length = 44100;
    scope.play(writeRamp("eq.wav", 1.0));
    EQSettings louder = flatEnabledEQ();
    louder.masterGain = 6.0f;
    scope.player.manager->updateEQ(louder);
    scope.player.manager->seek(0.5f);

    const FilterState before = scope.player.manager->liveEQFilters().bandState(5, 0);

    scope.source.tick();
    const auto position = int64_t(std::trunc(double(length) * double(scope.player.manager->currentProgress())));
    const auto left = scope.source.leftSamples();
    ASSERT_EQ(left.size(), 128);
    const float gain = std::pow(10.0f, 6.0f / 20.0f);
    for (qsizetype i = 0; i < left.size(); ++i) {
        ASSERT_NEAR(left[i], std::min(rampValue(position + 8 * i, length) * gain, 1.0f), 1e-6f);
    }
    const FilterState after = scope.player.manager->liveEQFilters().bandState(5, 0);
    EXPECT_EQ(after.y1, before.y1);
    EXPECT_EQ(after.x1, before.x1);
}

TEST(VectorscopeSource, OpensTheCurrentURLOnAppearanceAndSurvivesBadFiles) {
    Scope scope;
    const auto song = writeRamp("appear.wav", 1.0);
    scope.player.manager->loadFile(song);
    scope.urls.setCurrentURL(urlOf(song));
    scope.source.appear();
    EXPECT_TRUE(scope.source.hasFile());
    EXPECT_FALSE(scope.source.isTicking()) << "the player is not playing";

    const auto text = scratchPath("readme.wav");
    std::ofstream(text) << "text";
    scope.player.manager->play();
    scope.source.setPlayingURL(urlOf(text));
    EXPECT_FALSE(scope.source.hasFile());
    scope.source.tick();
    EXPECT_TRUE(scope.source.leftSamples().isEmpty());
}
