#pragma once

// Models only (QtCore).

#include "eq/EQFilter.h"
#include "eq/EQSettings.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"
#include "playback/PlaybackState.h"
#include "playback/PlayerNode.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace orvanta {

// Plays one file at a time for listening and A/B comparison: directly, or through the current EQ in
// real time, reading the file in chunks of 65536 frames that the player's own EQ filter history filters
// one after the other (the settings arrive by updateEQ; renders and the vectorscope keep histories of
// their own). Each restart (play, seek, EQ change) starts a new chunk chain under a new generation, and a
// chain whose generation is no longer current never reads or schedules again. One chunk is always kept
// queued ahead of the one playing, so that the player never waits for a read. Positions come from the
// time elapsed since the run started, not from the output's clock.
//
// Lives on the main thread; every operation is called there. Failures are not thrown: a file that
// cannot be opened leaves nothing loaded, and read errors while playing end the chunk chain with a
// line on standard output.
class AudioPlayerManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(orvanta::PlaybackState playbackState READ playbackState NOTIFY playbackStateChanged)
    Q_PROPERTY(float currentProgress READ currentProgress NOTIFY currentProgressChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(float currentCompensationDB READ currentCompensationDB NOTIFY currentCompensationDBChanged)
    Q_PROPERTY(float currentFileLUFS READ currentFileLUFS WRITE setCurrentFileLUFS NOTIFY currentFileLUFSChanged)
    Q_PROPERTY(float neededGainAdjustment READ neededGainAdjustment NOTIFY neededGainAdjustmentChanged)
    Q_PROPERTY(float currentFilePeak READ currentFilePeak WRITE setCurrentFilePeak NOTIFY currentFilePeakChanged)

public:
    using Clock = std::chrono::steady_clock;

    static constexpr uint32_t realtimeChunkFrames = 65536;
    static constexpr std::chrono::milliseconds progressTickInterval{100};
    static constexpr double endDetectionSeconds = 0.1;
    static constexpr float listeningTargetLUFS = -10.0f;

    // A manager on the default output path (see makeDefaultPlayerNode).
    explicit AudioPlayerManager(QObject* parent = nullptr);
    // A manager on the given output path.
    explicit AudioPlayerManager(std::unique_ptr<PlayerNode> node, QObject* parent = nullptr);
    ~AudioPlayerManager() override;

    PlaybackState playbackState() const { return playbackState_; }
    float currentProgress() const { return currentProgress_; }        // fraction 0…1 of duration
    double duration() const { return duration_; }                     // seconds
    float currentCompensationDB() const { return currentCompensationDB_; } // dB applied by the live EQ
    float currentFileLUFS() const { return currentFileLUFS_; }        // set by the interface
    void setCurrentFileLUFS(float lufs);
    float neededGainAdjustment() const { return neededGainAdjustment_; } // dB to reach −10 LUFS as heard
    float currentFilePeak() const { return currentFilePeak_; }        // dB, set by the interface
    void setCurrentFilePeak(float peakDB);

    const EQSettings& currentEQSettings() const { return currentEQSettings_; }
    // Set by the interface after loadFile (loadFile and stop clear both).
    bool isPlayingOriginal() const { return isPlayingOriginal_; }
    void setIsPlayingOriginal(bool original) { isPlayingOriginal_ = original; }
    bool isPlayingProcessedFile() const { return isPlayingProcessedFile_; }
    void setIsPlayingProcessedFile(bool processed) { isPlayingProcessedFile_ = processed; }

    bool isEngineReady() const { return isEngineReady_; }
    bool hasFile() const { return audioFile_ != nullptr; }
    uint32_t totalFrameCount() const { return totalFrameCount_; }
    double actualSampleRate() const { return actualSampleRate_; } // Hz
    double currentSeekPosition() const { return currentSeekPosition_; } // seconds
    uint64_t processingGeneration() const;
    PlayerNode& playerNode() { return *node_; }

    // Stops, then opens the file; on failure nothing is loaded and duration and progress are 0.
    void loadFile(const QUrl& url);
    void loadFile(const std::filesystem::path& file);
    // Starts from the seek position, or resumes after pause. Does nothing without a loaded, non-empty file.
    void play();
    void pause();
    void stop();
    // Moves to the fraction `progress` (clamped to 0…1) of the duration; restarts there while playing.
    void seek(float progress);
    // Takes the new EQ for live playback; restarts at the current position when it changes what is heard.
    void updateEQ(const EQSettings& settings);
    // neededGainAdjustment ← −10 − (currentFileLUFS + masterGain + Σ (band gain + 5) × 0.1 when enabled).
    void updateNeededGain();
    // One chunk through the live EQ (the player's filter history continued from the previous chunk), or
    // the chunk itself when the EQ is off or the original is playing. Queues the compensation it applies.
    AudioBuffer processBuffer(AudioBuffer buffer);
    // Queues currentCompensationDB ← dB on the main thread.
    void setCompensation(float dB);
    // The live EQ's filter history, for inspection.
    const EQFilterBank& liveEQFilters() const { return liveEQFilters_; }

signals:
    void playbackStateChanged();
    void currentProgressChanged();
    void durationChanged();
    void currentCompensationDBChanged();
    void currentFileLUFSChanged();
    void neededGainAdjustmentChanged();
    void currentFilePeakChanged();

private:
    // The real-time chunk chain of one generation.
    struct ChunkChain {
        std::shared_ptr<AudioFileReader> file;
        int64_t nextStart = 0;   // first frame not yet scheduled
        int64_t framesLeft = 0;  // frames still to schedule
        uint32_t chunkFrames = realtimeChunkFrames;
        uint64_t generation = 0;
    };

    void setupEngine();
    void startEngine();
    // Schedules from currentSeekPosition and plays; false when there was nothing left to schedule.
    bool startFromSeekPosition();
    void scheduleProcessed(int64_t start, int64_t frames, uint32_t chunkFrames);
    void scheduleNextChunk(uint64_t generation);
    // Reads, filters and schedules the chain's next chunk; false (chain ended) on a read error.
    bool scheduleChainChunk(const char* failureMessage);
    bool chainHasMore() const;
    uint64_t nextGeneration();

    void startProgressTimer();
    void progressTick();
    void finishPlayback();
    double secondsSinceStart() const;
    void restartClockAtSeekPosition();

    void setPlaybackState(PlaybackState state);
    void setCurrentProgress(float progress);
    void setDuration(double seconds);
    void setCurrentCompensationDB(float dB);
    void setNeededGainAdjustment(float dB);
    void resetCompensation();

    std::unique_ptr<PlayerNode> node_;

    PlaybackState playbackState_ = PlaybackState::stopped;
    float currentProgress_ = 0.0f;
    double duration_ = 0.0;
    float currentCompensationDB_ = 0.0f;
    float currentFileLUFS_ = -14.0f;
    float neededGainAdjustment_ = 4.0f;
    float currentFilePeak_ = -3.0f;

    EQSettings currentEQSettings_ = defaultEQSettings();
    EQFilterBank liveEQFilters_; // continued from chunk to chunk; reset on stop and when the EQ is switched
    bool isPlayingProcessedFile_ = false;
    bool isPlayingOriginal_ = false;
    std::shared_ptr<AudioFileReader> audioFile_;
    QTimer progressTimer_;
    double currentSeekPosition_ = 0.0; // seconds
    bool isEngineReady_ = false;
    uint32_t totalFrameCount_ = 0;
    double actualSampleRate_ = 44100.0; // Hz
    std::optional<Clock::time_point> playbackStartTime_; // the time of position 0 of the current run
    bool seekedWhilePaused_ = false;  // the paused queue no longer starts at the seek position
    uint64_t compensationEpoch_ = 0;  // queued compensations older than the last reset are dropped
    std::optional<ChunkChain> chain_;

    mutable std::mutex generationLock_;
    uint64_t processingGeneration_ = 0; // guarded by generationLock_
};

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::PlaybackState)
