#include "PlaybackTestSupport.h"

#include "eq/AudioEngine.h"
#include "eq/EQFilter.h"
#include "platform/AudioFileReader.h"
#include "support/Signals.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

using namespace orvanta;
using namespace orvanta::test;
using namespace std::chrono_literals;

namespace {

using Entry = NullPlayerNode::LogEntry;

std::vector<Entry> buffersIn(const std::vector<Entry>& log) {
    std::vector<Entry> buffers;
    for (const auto& entry : log)
        if (entry.kind == NullPlayerNode::ItemKind::buffer) buffers.push_back(entry);
    return buffers;
}

size_t pendingCount(const std::vector<Entry>& log) {
    size_t pending = 0;
    for (const auto& entry : log) pending += !entry.dropped && !entry.finishedAt;
    return pending;
}

} // namespace

TEST(AudioPlayerManager, StartsEmptyAndComputesTheListeningGain) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    EXPECT_EQ(manager.playbackState(), PlaybackState::stopped);
    EXPECT_EQ(manager.currentProgress(), 0.0f);
    EXPECT_EQ(manager.duration(), 0.0);
    EXPECT_EQ(manager.currentCompensationDB(), 0.0f);
    EXPECT_EQ(manager.currentFileLUFS(), -14.0f);
    EXPECT_EQ(manager.currentFilePeak(), -3.0f);
    EXPECT_TRUE(manager.isEngineReady());
    EXPECT_EQ(player.node->volume(), 1.0f);

    // −14 LUFS with the EQ off and no master gain needs +4 dB to reach −10 LUFS.
    manager.updateNeededGain();
    EXPECT_EQ(manager.neededGainAdjustment(), 4.0f);

    // Enabled, the 12 flat bands count (0 + 5) × 0.1 each: 6 dB.
    manager.updateEQ(flatEnabledEQ());
    EXPECT_FLOAT_EQ(manager.neededGainAdjustment(), -2.0f);

    // The master gain counts even with the EQ off.
    EQSettings disabled = defaultEQSettings();
    disabled.masterGain = 2.0f;
    manager.setCurrentFileLUFS(-8.0f);
    manager.updateEQ(disabled);
    EXPECT_FLOAT_EQ(manager.neededGainAdjustment(), -4.0f);

    // Play without a file does nothing.
    manager.play();
    EXPECT_EQ(manager.playbackState(), PlaybackState::stopped);
    EXPECT_TRUE(player.node->log().empty());
}

TEST(AudioPlayerManager, LoadsAFileAndRejectsWhatIsNotAudio) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    const auto song = writeRamp("song.wav", 1.5, 48000.0);
    manager.loadFile(QUrl::fromLocalFile(QString::fromStdString(song.string())));
    ASSERT_TRUE(manager.hasFile());
    EXPECT_EQ(manager.totalFrameCount(), 72000u);
    EXPECT_EQ(manager.actualSampleRate(), 48000.0);
    EXPECT_DOUBLE_EQ(manager.duration(), 1.5);
    EXPECT_EQ(player.node->format(), (AudioFormat{48000.0, 2}));

    const auto text = scratchPath("notes.wav");
    std::ofstream(text) << "not audio at all";
    manager.loadFile(text);
    EXPECT_FALSE(manager.hasFile());
    EXPECT_EQ(manager.duration(), 0.0);
    EXPECT_EQ(manager.currentProgress(), 0.0f);
    manager.play();
    EXPECT_EQ(manager.playbackState(), PlaybackState::stopped);
    EXPECT_TRUE(player.node->log().empty());

    manager.loadFile(scratchPath("missing.wav"));
    EXPECT_FALSE(manager.hasFile());
    manager.loadFile(QUrl(QStringLiteral("https://example.invalid/song.wav")));
    EXPECT_FALSE(manager.hasFile());
    EXPECT_TRUE(std::filesystem::exists(text)) << "a rejected file is left alone";
}

TEST(AudioPlayerManager, SeekingToTheEndSchedulesNothing) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeRamp("end.wav", 1.2345));
    manager.play();
    ASSERT_EQ(manager.playbackState(), PlaybackState::playing);
    ASSERT_EQ(player.node->log().size(), 1u);

    player.node->clearLog();
    manager.seek(1.0f);
    EXPECT_TRUE(player.node->log().empty());
    EXPECT_EQ(manager.currentProgress(), 1.0f);
    EXPECT_DOUBLE_EQ(manager.currentSeekPosition(), manager.duration());
    // Nothing is left to play, so playback finishes at the next progress tick.
    EXPECT_TRUE(runEventsUntil([&] { return manager.playbackState() == PlaybackState::stopped; }, 1000ms));

    manager.seek(1.7f);
    EXPECT_EQ(manager.currentProgress(), 1.0f);
    manager.play();
    EXPECT_EQ(manager.playbackState(), PlaybackState::stopped);
    EXPECT_TRUE(player.node->log().empty());

    // The same through the real-time EQ chain.
    manager.updateEQ(flatEnabledEQ());
    manager.seek(0.0f);
    manager.play();
    ASSERT_EQ(buffersIn(player.node->log()).size(), 1u) << "a 54441-frame file is one chunk";
    player.node->clearLog();
    manager.seek(2.0f);
    EXPECT_TRUE(player.node->log().empty());
    manager.seek(std::nanf(""));
    EXPECT_EQ(manager.currentProgress(), 0.0f) << "NaN seeks to the start";
}

TEST(AudioPlayerManager, TwoQuickSeeksLeaveOnlyTheLastChainRunning) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    // At 96 kHz a chunk of 65536 frames plays in 0.68 s.
    manager.loadFile(writeRamp("seeks.wav", 10.0, 96000.0));
    const int64_t length = 960000;
    manager.updateEQ(flatEnabledEQ());
    player.node->setRecordsBuffers(true);
    manager.play();
    ASSERT_EQ(buffersIn(player.node->log()).size(), 2u) << "the first chunk and one queued behind it";

    player.node->clearLog();
    const uint64_t before = manager.processingGeneration();
    manager.seek(0.2f);
    manager.seek(0.5f);
    EXPECT_GE(manager.processingGeneration(), before + 4) << "each seek counts, and each new chain";
    auto log = player.node->log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRUE(log[0].dropped && log[1].dropped);
    EXPECT_FALSE(log[2].dropped || log[3].dropped);

    // The notices of the dropped chunks arrive and must not schedule anything.
    runEventsFor(100ms);
    EXPECT_EQ(player.node->log().size(), 4u);

    const int64_t start = int64_t(std::trunc(0.5 * 10.0 * 96000.0));
    EXPECT_EQ(rampFrame(log[2].buffer->channel(0)[0], length), start);
    EXPECT_EQ(rampFrame(log[3].buffer->channel(0)[0], length), start + 65536);

    // When the first chunk of the last chain finishes, exactly one more follows.
    ASSERT_TRUE(runEventsUntil([&] { return player.node->log().size() >= 5; }, 2000ms));
    runEventsFor(50ms);
    log = player.node->log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(rampFrame(log[4].buffer->channel(0)[0], length), start + 2 * 65536);
    EXPECT_EQ(pendingCount(log), 2u);
}

TEST(AudioPlayerManager, OnlyAudibleEQChangesRestartPlayback) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeMusic(scratchPath("music.wav"), 8.0));
    manager.updateEQ(flatEnabledEQ());
    manager.play();
    runEventsFor(150ms);
    player.node->clearLog();
    const uint64_t generation = manager.processingGeneration();
    const double seekPosition = manager.currentSeekPosition();

    EQSettings reference = flatEnabledEQ();
    reference.isAutoReferenceMode = true;
    manager.updateEQ(reference);
    EXPECT_EQ(manager.processingGeneration(), generation);
    EXPECT_TRUE(player.node->log().empty());
    EXPECT_EQ(manager.currentSeekPosition(), seekPosition);
    EXPECT_TRUE(manager.currentEQSettings().isAutoReferenceMode);

    EQSettings louder = reference;
    louder.masterGain = 2.0f;
    manager.updateEQ(louder);
    EXPECT_GT(manager.processingGeneration(), generation);
    EXPECT_EQ(buffersIn(player.node->log()).size(), 2u);
    EXPECT_GT(manager.currentSeekPosition(), 0.1) << "restarted at the current position";
    EXPECT_EQ(manager.playbackState(), PlaybackState::playing);

    // Switching the EQ off does not restart; the chain goes on with unfiltered chunks.
    player.node->clearLog();
    const uint64_t running = manager.processingGeneration();
    EQSettings off = louder;
    off.isEnabled = false;
    manager.updateEQ(off);
    EXPECT_EQ(manager.processingGeneration(), running);
    EXPECT_TRUE(player.node->log().empty());
}

TEST(AudioPlayerManager, TheOriginalPlaysWithoutEQAndWithoutCompensation) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    EQSettings settings = boostedEQ();
    settings.masterGain = 3.0f;
    const auto song = writeMusic(scratchPath("original.wav"), 4.0);

    manager.loadFile(song);
    manager.setIsPlayingOriginal(true);
    manager.updateEQ(settings);
    manager.play();
    auto log = player.node->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, NullPlayerNode::ItemKind::segment);
    EXPECT_EQ(log[0].segmentStartFrame, 0u);
    EXPECT_EQ(log[0].frames, manager.totalFrameCount());

    AudioFileReader reader(song);
    AudioBuffer chunk = reader.makeBuffer(4096);
    reader.read(chunk, 4096);
    const AudioBuffer result = manager.processBuffer(chunk);
    EXPECT_TRUE(std::equal(chunk.channel(1), chunk.channel(1) + 4096, result.channel(1)));
    runEventsFor(50ms);
    EXPECT_EQ(manager.currentCompensationDB(), 0.0f);

    // The processed file through the same EQ: filtered chunks, and the master gain is reported.
    manager.loadFile(song);
    EXPECT_FALSE(manager.isPlayingOriginal()) << "loading clears the flag";
    manager.play();
    EXPECT_EQ(buffersIn(player.node->log()).size(), 2u);
    EXPECT_TRUE(runEventsUntil([&] { return manager.currentCompensationDB() == 3.0f; }, 500ms));
    const AudioBuffer filtered = manager.processBuffer(chunk);
    EXPECT_GT(peakOf(std::vector<float>(filtered.channel(0), filtered.channel(0) + 4096)),
              peakOf(std::vector<float>(chunk.channel(0), chunk.channel(0) + 4096)));

    // A compensation queued just before a stop does not outlive it.
    manager.stop();
    manager.play();
    manager.stop();
    runEventsFor(50ms);
    EXPECT_EQ(manager.currentCompensationDB(), 0.0f);
}

TEST(AudioPlayerManager, EnablingTheEQWhilePlayingRestartsHereWithZeroedFilters) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    const auto song = writeMusic(scratchPath("enable.wav"), 8.0, -6.0);
    manager.loadFile(song);
    // A first run with the EQ on leaves history behind; switching the EQ off and on again clears it.
    manager.updateEQ(boostedEQ());
    manager.play();
    runEventsFor(200ms);
    ASSERT_NE(manager.liveEQFilters().bandState(5, 0).y1, 0.0f);
    EQSettings off = boostedEQ();
    off.isEnabled = false;
    manager.updateEQ(off);
    manager.stop();
    player.node->clearLog();
    manager.play();
    ASSERT_EQ(player.node->log().size(), 1u);
    runEventsFor(400ms);

    player.node->setRecordsBuffers(true);
    player.node->clearLog();
    const uint64_t generation = manager.processingGeneration();
    manager.updateEQ(boostedEQ());
    EXPECT_GT(manager.processingGeneration(), generation);
    EXPECT_EQ(manager.playbackState(), PlaybackState::playing);
    const double position = manager.currentSeekPosition();
    EXPECT_GT(position, 0.35);
    EXPECT_LT(position, 0.9);
    EXPECT_NEAR(manager.currentProgress(), position / 8.0, 1e-6);

    const auto buffers = buffersIn(player.node->log());
    ASSERT_EQ(buffers.size(), 2u);
    // The first chunk is the file from the current position, filtered from silent history.
    const auto startFrame = int64_t(std::trunc(position * 44100.0));
    AudioFileReader reader(song);
    AudioBuffer expected = reader.makeBuffer(65536);
    reader.setFramePosition(startFrame);
    reader.read(expected, 65536);
    EQFilterBank fresh;
    const auto filtered = processWithEQ(fresh, expected, boostedEQ(), true);
    ASSERT_TRUE(filtered.has_value());
    const AudioBuffer& scheduled = *buffers[0].buffer;
    ASSERT_EQ(scheduled.frameLength(), 65536u);
    for (uint32_t c = 0; c < 2; ++c) {
        for (uint32_t i = 0; i < 65536; ++i) {
            ASSERT_EQ(scheduled.channel(c)[i], filtered->channel(c)[i]) << "channel " << c << " frame " << i;
        }
    }
}

TEST(AudioPlayerManager, StopResetsPlaybackAndTheLiveFilters) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeMusic(scratchPath("stop.wav"), 4.0));
    manager.setIsPlayingProcessedFile(true);
    manager.updateEQ(boostedEQ());
    manager.play();
    player.node->setVolume(0.25f);
    runEventsFor(250ms);
    ASSERT_GT(manager.currentProgress(), 0.0f);
    ASSERT_NE(manager.liveEQFilters().bandState(5, 1).y1, 0.0f);

    manager.stop();
    EXPECT_EQ(manager.playbackState(), PlaybackState::stopped);
    EXPECT_EQ(manager.currentProgress(), 0.0f);
    EXPECT_EQ(manager.currentSeekPosition(), 0.0);
    EXPECT_FALSE(manager.isPlayingProcessedFile());
    EXPECT_FALSE(manager.isPlayingOriginal());
    EXPECT_EQ(player.node->volume(), 1.0f);
    EXPECT_FALSE(player.node->isPlaying());
    const FilterState state = manager.liveEQFilters().bandState(5, 1);
    EXPECT_EQ(state.x1, 0.0f);
    EXPECT_EQ(state.y1, 0.0f);
    for (const auto& entry : player.node->log()) EXPECT_TRUE(entry.finishedAt || entry.dropped);

    // The dropped chunks' notices must not revive the chain.
    runEventsFor(100ms);
    EXPECT_EQ(pendingCount(player.node->log()), 0u);
}

TEST(AudioPlayerManager, SeekingWhilePausedResumesAtTheNewPosition) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(writeRamp("paused.wav", 6.0));
    manager.play();
    runEventsFor(200ms);
    manager.pause();
    EXPECT_EQ(manager.playbackState(), PlaybackState::paused);
    player.node->clearLog();

    manager.seek(0.5f);
    EXPECT_TRUE(player.node->log().empty()) << "nothing plays while paused";
    EXPECT_EQ(manager.currentProgress(), 0.5f);
    manager.play();
    const auto log = player.node->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].segmentStartFrame, uint32_t(3.0 * 44100.0));
    EXPECT_EQ(manager.playbackState(), PlaybackState::playing);
}

TEST(AudioPlayerManager, AFileThatShrinksWhilePlayingEndsTheChainQuietly) {
    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    // 32-bit float: 8 bytes a frame; at 96 kHz a chunk of 65536 frames plays in 0.68 s.
    const auto song = writeRamp("shrinking.wav", 6.0, 96000.0);
    manager.loadFile(song);
    manager.updateEQ(boostedEQ());
    manager.play();
    ASSERT_EQ(buffersIn(player.node->log()).size(), 2u);
    std::filesystem::resize_file(song, 2 * 65536 * 8 + 20000); // a little over two chunks remain
    ASSERT_TRUE(runEventsUntil([&] { return player.node->log().size() >= 3; }, 2000ms));
    runEventsFor(900ms); // past the end of the second chunk, when a fourth would be scheduled
    const auto buffers = buffersIn(player.node->log());
    EXPECT_LE(buffers.size(), 3u) << "no chunk is made up beyond what the file still holds";
    EXPECT_EQ(manager.playbackState(), PlaybackState::playing);
    manager.stop();
}

TEST(AudioPlayerManager, TheRealTimeEQStaysBoundedAtLowRates) {
    // Every band at ±6 dB, the top two cut (the high cut asked for too): at these rates the 12, 16 and
    // 20 kHz bands and the 18 kHz corner lie at or past Nyquist.
    EQSettings settings = flatEnabledEQ();
    for (size_t i = 0; i < settings.bands.size(); ++i) settings.bands[i].gain = i % 2 == 0 ? 6.0f : -6.0f;
    settings.bands[10].gain = -6.0f;
    settings.bands[11].gain = -6.0f;
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0}) {
        auto player = makeNullPlayer();
        auto& manager = *player.manager;
        const auto song = scratchPath("low-rate.wav");
        writeWav(song, {whiteNoise(0.25, size_t(rate * 10), 1), whiteNoise(0.25, size_t(rate * 10), 2)}, rate);
        manager.loadFile(song);
        manager.setIsPlayingProcessedFile(true);
        manager.updateEQ(settings);
        player.node->setRecordsBuffers(true);
        manager.play();
        const auto buffers = buffersIn(player.node->log());
        ASSERT_FALSE(buffers.empty()) << rate;
        const AudioBuffer& chunk = *buffers[0].buffer;
        ASSERT_EQ(chunk.frameLength(), 65536u) << rate;
        for (uint32_t c = 0; c < chunk.channelCount(); ++c) {
            const std::vector<float> samples(chunk.channel(c), chunk.channel(c) + chunk.frameLength());
            for (float x : samples) ASSERT_TRUE(std::isfinite(x)) << rate;
            // ±6 dB bands on noise at a quarter of full scale: far from blowing up.
            EXPECT_LT(peakOf(samples), 1.0) << rate;
            const std::vector<float> late(samples.end() - 8192, samples.end());
            EXPECT_LT(rmsOf(late), 0.5) << rate << ": the level holds to the end of the chunk";
        }
        manager.stop();
    }
}

TEST(AudioPlayerManager, LiveEQAndARenderOfTheSameSongKeepTheirOwnFilterHistories) {
    // The same song plays through the live EQ while a worker renders it through the same EQ again and
    // again. Each keeps its own history: every render is bit-identical to one run alone, and playback
    // hears the song filtered from rest, chunk after chunk.
    // Three chunks at 96 kHz, where a chunk of 65536 frames plays in 0.68 s.
    const auto song = writeMusic(scratchPath("shared.wav"), 2.0, -6.0, 1, 96000.0);
    const EQSettings eq = boostedEQ();
    const auto render = [&song, &eq](const std::filesystem::path& output) {
        AudioEngine().renderCorrection(song, output, eq, {}, 0.0f, 1.0f, 0.0f);
        return readWithSndfile(output);
    };
    const Channels alone = render(scratchPath("alone.wav"));

    auto player = makeNullPlayer();
    auto& manager = *player.manager;
    manager.loadFile(song);
    manager.updateEQ(eq);
    player.node->setRecordsBuffers(true);
    std::atomic<bool> playing = true;
    std::atomic<int> renders = 0, differing = 0;
    std::thread worker([&] {
        while (playing) {
            if (render(scratchPath("beside.wav")) != alone) ++differing;
            ++renders;
        }
    });
    manager.play();
    runEventsFor(900ms); // past the end of the first chunk, so a third one is filtered too
    playing = false;
    worker.join();
    EXPECT_GT(renders.load(), 0);
    EXPECT_EQ(differing.load(), 0);

    const auto buffers = buffersIn(player.node->log());
    ASSERT_EQ(buffers.size(), 3u);
    AudioFileReader reader(song);
    EQFilterBank fresh;
    uint32_t start = 0;
    for (const auto& entry : buffers) {
        AudioBuffer chunk = reader.makeBuffer(entry.frames);
        reader.setFramePosition(start);
        reader.read(chunk, entry.frames);
        const auto expected = processWithEQ(fresh, chunk, eq, true);
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(fromBuffer(*entry.buffer), fromBuffer(*expected)) << "chunk from frame " << start;
        start += entry.frames;
    }
    EXPECT_EQ(start, reader.lengthFrames());
}
