// The result screen's waveforms and transport, offscreen over the null audio output: the overview of
// known signals, a click on the waveform seeking the playing version, the A/B key keeping the place,
// the seek keys, a position chosen while stopped being where play starts, and the limiter's lane and
// "What changed" after a master run.
#include "app/AudioFileCard.h"
#include "app/EqCurveView.h"
#include "app/ImportScreen.h"
#include "app/ImportScreen.h"
#include "app/MasteringSummaryView.h"
#include "app/ResultScreen.h"
#include "app/StreamingPreviewView.h"
#include "app/TransportBar.h"
#include "app/VectorscopeView.h"
#include "app/WaveformView.h"
#include "AssembledWindow.h"
#include "AssembledWindow.h"
#include "models/engine/BackgroundPool.h"
#include "models/app/ResultTransport.h"
#include "models/app/WaveformCache.h"
#include "models/app/WaveformOverview.h"
#include "support/Ebur128Reference.h"
#include "support/QtWait.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <QAccessible>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace orvanta {
namespace {

namespace fs = std::filesystem;

TEST(WaveformOverview, ASineShowsItsPeakAndRmsAndSilenceStaysFlat) {
    constexpr double rate = 44100.0;
    // One second of a 0.5 sine in both channels, then one second of silence; 450 Hz puts whole
    // periods (98 samples) in each 882-frame column.
    std::vector<float> signal = test::sine(450.0, 0.5, rate, 44100);
    const std::vector<float> quiet = test::silence(44100);
    signal.insert(signal.end(), quiet.begin(), quiet.end());
    const fs::path file = test::scratchPath("sine-then-silence.wav");
    test::writeWav(file, test::replicate(signal, 2), rate);

    const WaveformOverview overview = computeWaveformOverview(file, 100);
    EXPECT_DOUBLE_EQ(overview.durationSeconds, 2.0);
    ASSERT_EQ(overview.columns(), 100u);
    for (size_t column = 0; column < 50; ++column) {
        EXPECT_NEAR(overview.highest[column], 0.5, 1e-3) << column;
        EXPECT_NEAR(overview.lowest[column], -0.5, 1e-3) << column;
        EXPECT_NEAR(overview.rms[column], 0.5 / std::sqrt(2.0), 1e-3) << column;
    }
    for (size_t column = 50; column < 100; ++column) {
        EXPECT_EQ(overview.highest[column], 0.0f) << column;
        EXPECT_EQ(overview.rms[column], 0.0f) << column;
    }
    // A file shorter than the columns asked for gives one column per frame.
    const fs::path tiny = test::scratchPath("tiny.wav");
    test::writeWav(tiny, test::replicate({0.25f, -0.75f, 0.5f}, 1), rate);
    const WaveformOverview few = computeWaveformOverview(tiny, 100);
    ASSERT_EQ(few.columns(), 3u);
    EXPECT_EQ(few.lowest[1], -0.75f);
    EXPECT_EQ(few.highest[2], 0.5f);
}

TEST(WaveformCache, ReadsAFileOnceAndAnUnreadableOneGivesNoOverview) {
    BackgroundPool pool;
    const fs::path file = test::scratchPath("noise.wav");
    test::writeWav(file, test::replicate(test::whiteNoise(0.3, 44100, 3), 2), 44100.0);
    WaveformCache cache(pool);
    QFuture<WaveformCache::Overview> first = cache.overview(file);
    ASSERT_TRUE(test::finishes(first, 20000));
    ASSERT_NE(first.result(), nullptr);
    EXPECT_EQ(cache.cached(file), first.result());
    QFuture<WaveformCache::Overview> again = cache.overview(file);
    ASSERT_TRUE(test::finishes(again, 2000));
    EXPECT_EQ(again.result(), first.result()) << "the second request is answered from the cache";

    const fs::path text = test::scratchPath("notes.wav");
    std::ofstream(text) << "not audio";
    QFuture<WaveformCache::Overview> unreadable = cache.overview(text);
    ASSERT_TRUE(test::finishes(unreadable, 20000));
    EXPECT_EQ(unreadable.result(), nullptr);
}

class ResultPlaybackTest : public testing::Test, protected test::AssembledWindow {
protected:
    void SetUp() override {
        window.resize(1280, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void TearDown() override { app.player.stop(); }

    // Masters a 20-second song through the screens and waits for both waveforms.
    void masterSong() {
        const fs::path song = test::scratchPath("song.wav");
        test::writeMusic(song, 20.0, -16.0);
        ASSERT_TRUE(test::finishes(model.dropFile(song), 20000));
        // The import screen's card tells what was dropped, read from the file itself.
        AudioFileCard* card = window.importScreen()->songCard();
        EXPECT_EQ(card->nameText(), "song.wav");
        EXPECT_TRUE(test::becomes([&] { return card->formatText() != "Reading..."; }, 10000));
        EXPECT_EQ(card->formatText(), QString::fromUtf8("0:20 \u00B7 44.1 kHz \u00B7 32-bit float \u00B7 Stereo")) << card->formatText().toStdString();
        EXPECT_TRUE(card->measurementText().contains(QRegularExpression(QString::fromUtf8(R"(^Loudness -\d+\.\d LUFS · True peak -?\d+\.\d dBTP$)"))))
            << card->measurementText().toStdString();
        QTest::mouseClick(window.importScreen()->startButton(), Qt::LeftButton);
        ASSERT_TRUE(test::becomes([&] { return window.currentScreen() == window.resultScreen(); }, 300000));
        ASSERT_TRUE(test::becomes([&] { return result()->waveformView()->timelineSeconds() > 0; }, 20000));
    }

    ResultScreen* result() const { return window.resultScreen(); }
    double playerSeconds() const {
        const AudioPlayerManager& player = app.player;
        return double(player.currentProgress()) * player.duration();
    }
};

TEST_F(ResultPlaybackTest, AClickOnTheWaveformSeeksAndTheKeysKeepThePlace) {
    masterSong();
    AudioPlayerManager& player = app.player;
    WaveformView* waveforms = result()->waveformView();
    ResultTransport& transport = result()->transport();
    EXPECT_NEAR(waveforms->timelineSeconds(), 20.0, 0.05);
    EXPECT_EQ(result()->transportBar()->timeText(), "0:00 / 0:20");

    // Every control that takes focus says what it is to a screen reader.
    for (QWidget* widget : result()->findChildren<QWidget*>()) {
        if (!widget->isVisible() || !(widget->focusPolicy() & Qt::TabFocus)) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << widget->metaObject()->className();
    }

    VectorscopeView* scope = result()->vectorscopeView();
    EXPECT_EQ(scope->dotCount(), 0) << "nothing has played yet: the hint";

    // Stopped: a click chooses where play starts.
    QTest::mouseClick(waveforms, Qt::LeftButton, {}, QPoint(int(waveforms->xOfSeconds(10.0)), waveforms->height() / 2));
    EXPECT_NEAR(transport.positionSeconds(), 10.0, 0.1);
    EXPECT_EQ(player.playbackState(), PlaybackState::stopped);
    QTest::mouseClick(result()->transportBar()->playPauseButton(), Qt::LeftButton);
    ASSERT_EQ(player.playbackState(), PlaybackState::playing);
    EXPECT_FALSE(model.playingOriginal()) << "the processed version is chosen first";
    EXPECT_NEAR(playerSeconds(), 10.0, 0.15);

    // Playing: a click at 15.5 s moves playback there, and it goes on from there. (Positions follow the
    // wall clock, so the bounds allow for a loaded machine.)
    QTest::mouseClick(waveforms, Qt::LeftButton, {}, QPoint(int(waveforms->xOfSeconds(15.5)), 10));
    EXPECT_NEAR(playerSeconds(), 15.5, 0.15);
    EXPECT_TRUE(result()->transportBar()->timeText().startsWith("0:15 / ")) << result()->transportBar()->timeText().toStdString();
    EXPECT_TRUE(test::becomes([&] { return playerSeconds() > 15.6; }, 5000));
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);

    // The A key switches to the original at the same place, and back.
    double before = playerSeconds();
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_TRUE(model.playingOriginal());
    EXPECT_TRUE(player.isPlayingOriginal());
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);
    EXPECT_NEAR(playerSeconds(), before, 0.5);
    EXPECT_TRUE(result()->transportBar()->originalButton()->isChecked());
    EXPECT_TRUE(result()->neededGainText().contains(" dB")) << "the compensated figure stays beside the switch";
    before = playerSeconds();
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_FALSE(model.playingOriginal());
    EXPECT_NEAR(playerSeconds(), before, 0.5);

    // Left goes back five seconds, Home to the start, Right forward again.
    before = playerSeconds();
    QTest::keyClick(&window, Qt::Key_Left);
    EXPECT_NEAR(playerSeconds(), before - 5.0, 0.5);
    QTest::keyClick(&window, Qt::Key_Home);
    EXPECT_NEAR(playerSeconds(), 0.0, 0.15);
    before = playerSeconds();
    QTest::keyClick(&window, Qt::Key_Right);
    EXPECT_NEAR(playerSeconds(), before + 5.0, 0.5);
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);

    // Space pauses; the playhead stays where playback stopped and play resumes there. The vectorscope
    // keeps its last frame and correlation meanwhile.
    ASSERT_TRUE(test::becomes([&] { return scope->dotCount() > 0; }, 2000));
    before = playerSeconds();
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(player.playbackState(), PlaybackState::paused);
    test::processEventsFor(300);
    EXPECT_TRUE(scope->isHoldingLastFrame());
    EXPECT_GT(scope->dotCount(), 0);
    ASSERT_TRUE(scope->correlation().has_value());
    EXPECT_GT(*scope->correlation(), 0.0) << "the test song's drums and bass sit in the middle";
    const double paused = transport.positionSeconds();
    EXPECT_NEAR(paused, before, 0.5);
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(player.playbackState(), PlaybackState::playing);
    EXPECT_NEAR(playerSeconds(), paused, 0.15);

    // The analyzer panel's play buttons switch the version; the A/B switch follows them.
    model.playFromAnalyzer(true);
    EXPECT_TRUE(player.isPlayingOriginal());
    EXPECT_TRUE(result()->transportBar()->originalButton()->isChecked());
    model.playFromAnalyzer(false);
    EXPECT_FALSE(result()->transportBar()->originalButton()->isChecked());
}

// A figure of the summary's text: the number after `label` (the first, or the one after "->").
double summaryFigure(const QString& text, const QString& label, bool after) {
    const QString figure = R"(([-+]?\d+\.\d))";
    const QRegularExpression line(QRegularExpression::escape(label) + ": " +
                                  (after ? R"([^\n]*-> )" + figure : figure));
    const QRegularExpressionMatch match = line.match(text);
    EXPECT_TRUE(match.hasMatch()) << label.toStdString() << " in " << text.toStdString();
    return match.captured(1).toDouble();
}

TEST_F(ResultPlaybackTest, AQuietSineMasteredLoudShowsTheLaneAndWhatChanged) {
    // Twelve seconds of a 1 kHz sine, its second half 6 dB louder, around −30 LUFS: far under the target.
    constexpr double rate = 44100.0;
    std::vector<float> signal = test::sine(1000.0, 0.03, rate, size_t(rate * 6));
    const std::vector<float> louder = test::sine(1000.0, 0.06, rate, size_t(rate * 6));
    signal.insert(signal.end(), louder.begin(), louder.end());
    const test::Channels original = test::replicate(signal, 2);
    const fs::path song = test::scratchPath("quiet-sine.wav");
    test::writeWav(song, original, rate);
    model.choosePreset(1); // "Loud"
    ASSERT_TRUE(test::finishes(model.dropFile(song), 20000));
    QTest::mouseClick(window.importScreen()->startButton(), Qt::LeftButton);
    ASSERT_TRUE(test::becomes([&] { return window.currentScreen() == window.resultScreen(); }, 300000));

    // The lane under the processed waveform, from the pass that made the master.
    WaveformView* waveforms = result()->waveformView();
    ASSERT_TRUE(test::becomes([&] { return waveforms->hasGainReductionLane() && waveforms->timelineSeconds() > 0; }, 20000));
    const auto& pass = batch.lastMasterPass();
    ASSERT_TRUE(pass && pass->pipeline);
    const GainReductionEnvelope& envelope = pass->pipeline->gainReduction;
    EXPECT_GE(waveforms->gainReductionRect().height(), 20.0);
    EXPECT_GT(waveforms->gainReductionRect().top(), waveforms->height() / 2.0) << "under both waveforms";
    EXPECT_NEAR(envelope.bucketSeconds * double(envelope.reductionDb.size()), 12.0, 0.02);

    // "What changed", once the loudness ranges have been read with the waveforms.
    MasteringSummaryView* summary = result()->summaryView();
    ASSERT_TRUE(summary->isVisible());
    const QRegularExpression bothRanges(R"(Loudness range: \d+\.\d LU -> \d+\.\d LU)");
    ASSERT_TRUE(test::becomes([&] { return bothRanges.match(summary->text()).hasMatch(); }, 20000))
        << summary->text().toStdString();
    const QString text = summary->text();
    const fs::path master = *batch.currentFile()->masterURL;
    const test::Channels mastered = test::readWithSndfile(master);
    const double gain = summaryFigure(text, "Gain applied", false);
    EXPECT_GT(gain, 15.0) << text.toStdString();
    EXPECT_NEAR(gain, 20.0 * std::log10(pass->pipeline->totalGain), 0.051);
    // The engine's loudness carries its −0.5 dB calibration against BS.1770.
    EXPECT_NEAR(summaryFigure(text, "Loudness", false), test::ebur128Loudness(original, rate) - 0.5, 0.15);
    EXPECT_NEAR(summaryFigure(text, "Loudness", true), test::ebur128Loudness(mastered, rate) - 0.5, 0.15);
    EXPECT_NEAR(summaryFigure(text, "Loudness", true), -8.0, 0.35) << "the Loud target";
    EXPECT_NEAR(summaryFigure(text, "True peak", true), test::ebur128TruePeakDb(mastered, rate), 0.2);
    EXPECT_NEAR(summaryFigure(text, "Loudness range", false), test::ebur128LoudnessRange(original, rate), 0.3);
    EXPECT_NEAR(summaryFigure(text, "Loudness range", true), test::ebur128LoudnessRange(mastered, rate), 0.3);
    EXPECT_GT(summaryFigure(text, "Loudness range", false), 4.0) << "the two halves lie 6 dB apart";
    EXPECT_TRUE(text.contains(QString::asprintf("largest %.1f dB, average %.1f dB", double(envelope.maximumDb),
                                                double(envelope.averageDb))))
        << text.toStdString();
    EXPECT_TRUE(summary->matchedEqCurve()->isHidden()) << "no reference pass ran";
    // The gain is the kept pass's, and says so with the passes it took.
    EXPECT_TRUE(text.contains(QStringLiteral("(the kept pass's gain; %1 pass").arg(pass->pipeline->passes)))
        << text.toStdString();

    // Beside it, how each service will play the master: at about −7.5 LUFS on BS.1770 the −14 LUFS services
    // turn it down by some 6.5 dB, more than 3 dB given away, so those rows are highlighted.
    StreamingPreviewView* streaming = result()->streamingView();
    ASSERT_TRUE(streaming->isVisible());
    const QString rows = streaming->text();
    const double bs1770 = test::ebur128Loudness(mastered, rate);
    const QRegularExpression spotify(R"(Spotify: plays at (-?\d+\.\d) LUFS, ([-+]\d+\.\d) dB)");
    const QRegularExpressionMatch row = spotify.match(rows);
    ASSERT_TRUE(row.hasMatch()) << rows.toStdString();
    EXPECT_NEAR(row.captured(1).toDouble(), -14.0, 0.051);
    EXPECT_NEAR(row.captured(2).toDouble(), -14.0 - bs1770, 0.15);
    for (const char* service : {"Apple Music", "YouTube", "Tidal", "Amazon Music", "Deezer"})
        EXPECT_TRUE(rows.contains(QString::fromUtf8(service) + QStringLiteral(": plays at "))) << service;
    EXPECT_TRUE(streaming->highlighted().contains(QStringLiteral("Spotify"))) << rows.toStdString();
    EXPECT_TRUE(streaming->toolTip().contains(QStringLiteral("0.5 LU below BS.1770")));
}

} // namespace
} // namespace orvanta
