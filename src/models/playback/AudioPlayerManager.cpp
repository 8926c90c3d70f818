#include "models/playback/AudioPlayerManager.h"

#include "eq/EQFilter.h"
#include "models/engine/MainThread.h"
#include "models/playback/PlayerNodeFactory.h"
#include "platform/Error.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvanta {

namespace {

constexpr const char* schedulingFailed = "[AudioPlayer] Audio scheduling failed: ";
constexpr const char* chunkFailed = "[AudioPlayer] Audio chunk processing failed: ";

void printFailure(const char* prefix, const std::string& description) {
    std::printf("%s%s\n", prefix, description.c_str());
    std::fflush(stdout);
}

AudioPlayerManager::Clock::duration toClockDuration(double seconds) {
    return std::chrono::duration_cast<AudioPlayerManager::Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

AudioPlayerManager::AudioPlayerManager(QObject* parent) : AudioPlayerManager(makeDefaultPlayerNode(), parent) {}

AudioPlayerManager::AudioPlayerManager(std::unique_ptr<PlayerNode> node, QObject* parent)
    : QObject(parent), node_(std::move(node)), progressTimer_(this) {
    progressTimer_.setInterval(progressTickInterval);
    QObject::connect(&progressTimer_, &QTimer::timeout, this, &AudioPlayerManager::progressTick);
    setupEngine();
}

AudioPlayerManager::~AudioPlayerManager() {
    // The output goes first: once it is gone no completion notice can queue work on this object.
    node_.reset();
}

void AudioPlayerManager::setupEngine() {
    node_->setVolume(1.0f);
    startEngine();
}

void AudioPlayerManager::startEngine() { isEngineReady_ = node_->start(); }

uint64_t AudioPlayerManager::processingGeneration() const {
    std::lock_guard guard(generationLock_);
    return processingGeneration_;
}

uint64_t AudioPlayerManager::nextGeneration() {
    std::lock_guard guard(generationLock_);
    return ++processingGeneration_;
}

// MARK: published fields

void AudioPlayerManager::setPlaybackState(PlaybackState state) {
    if (playbackState_ != state) {
        playbackState_ = state;
        emit playbackStateChanged();
    }
}

void AudioPlayerManager::setCurrentProgress(float progress) {
    if (currentProgress_ != progress) {
        currentProgress_ = progress;
        emit currentProgressChanged();
    }
}

void AudioPlayerManager::setDuration(double seconds) {
    if (duration_ != seconds) {
        duration_ = seconds;
        emit durationChanged();
    }
}

void AudioPlayerManager::setCurrentCompensationDB(float dB) {
    if (currentCompensationDB_ != dB) {
        currentCompensationDB_ = dB;
        emit currentCompensationDBChanged();
    }
}

void AudioPlayerManager::setCurrentFileLUFS(float lufs) {
    if (currentFileLUFS_ != lufs) {
        currentFileLUFS_ = lufs;
        emit currentFileLUFSChanged();
    }
}

void AudioPlayerManager::setNeededGainAdjustment(float dB) {
    if (neededGainAdjustment_ != dB) {
        neededGainAdjustment_ = dB;
        emit neededGainAdjustmentChanged();
    }
}

void AudioPlayerManager::setCurrentFilePeak(float peakDB) {
    if (currentFilePeak_ != peakDB) {
        currentFilePeak_ = peakDB;
        emit currentFilePeakChanged();
    }
}

void AudioPlayerManager::setCompensation(float dB) {
    const uint64_t epoch = compensationEpoch_;
    postTo(this, [this, dB, epoch] {
        if (epoch == compensationEpoch_) {
            setCurrentCompensationDB(dB);
        }
    });
}

void AudioPlayerManager::resetCompensation() {
    // A compensation queued by a chunk filtered before the reset must not bring the old value back.
    ++compensationEpoch_;
    setCurrentCompensationDB(0.0f);
}

// MARK: file and transport

void AudioPlayerManager::loadFile(const QUrl& url) {
    loadFile(std::filesystem::path(url.isLocalFile() ? url.toLocalFile().toStdString() : std::string()));
}

void AudioPlayerManager::loadFile(const std::filesystem::path& file) {
    progressTimer_.stop();
    stop();
    node_->disconnect();

    std::shared_ptr<AudioFileReader> reader;
    try {
        if (file.empty()) {
            throw audioFileError(AudioFileErrorCode::cannotOpen, "No local file was given");
        }
        reader = std::make_shared<AudioFileReader>(file);
    } catch (const std::exception&) {
        audioFile_.reset();
        chain_.reset();
        totalFrameCount_ = 0;
        setDuration(0.0);
        setCurrentProgress(0.0f);
        currentSeekPosition_ = 0.0;
        return;
    }

    audioFile_ = std::move(reader);
    totalFrameCount_ = uint32_t(audioFile_->lengthFrames());
    actualSampleRate_ = audioFile_->sampleRate();
    setDuration(double(totalFrameCount_) / actualSampleRate_);
    node_->connect(audioFile_->processingFormat());
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    if (node_->isRunning()) {
        node_->shutdown();
    }
    startEngine();
}

void AudioPlayerManager::play() {
    if (!isEngineReady_ || !audioFile_ || totalFrameCount_ == 0) {
        return;
    }
    if (!node_->isRunning()) {
        startEngine();
        if (!isEngineReady_) {
            return;
        }
    }
    if (playbackState_ == PlaybackState::paused && !seekedWhilePaused_) {
        node_->play();
        setPlaybackState(PlaybackState::playing);
        restartClockAtSeekPosition();
        startProgressTimer();
    } else {
        startFromSeekPosition();
    }
}

bool AudioPlayerManager::startFromSeekPosition() {
    node_->stop();
    seekedWhilePaused_ = false;
    // At the very end the frame count itself, which duration × rate may miss by rounding.
    const auto startFrame = currentSeekPosition_ >= duration_
                                ? int64_t(totalFrameCount_)
                                : int64_t(std::trunc(currentSeekPosition_ * actualSampleRate_));
    const int64_t framesLeft = int64_t(totalFrameCount_) - startFrame;
    if (!audioFile_ || startFrame < 0 || startFrame >= audioFile_->lengthFrames() || framesLeft == 0) {
        return false;
    }
    if (currentEQSettings_.isEnabled && !isPlayingOriginal_) {
        scheduleProcessed(startFrame, framesLeft, realtimeChunkFrames);
    } else {
        try {
            node_->scheduleSegment(audioFile_->path(), uint32_t(startFrame), uint32_t(framesLeft));
        } catch (const std::exception& error) {
            printFailure(schedulingFailed, error.what());
        }
    }
    node_->play();
    setPlaybackState(PlaybackState::playing);
    restartClockAtSeekPosition();
    startProgressTimer();
    return true;
}

void AudioPlayerManager::pause() {
    if (playbackState_ != PlaybackState::playing) {
        return;
    }
    node_->pause();
    setPlaybackState(PlaybackState::paused);
    if (playbackStartTime_) {
        currentSeekPosition_ = secondsSinceStart();
        if (duration_ > 0) {
            setCurrentProgress(float(currentSeekPosition_ / duration_));
        }
    }
    progressTimer_.stop();
}

void AudioPlayerManager::seek(float progress) {
    // NaN would become an undefined start frame; it means no particular place, so the start.
    const float p = std::isnan(progress) ? 0.0f : std::max(std::min(progress, 1.0f), 0.0f);
    currentSeekPosition_ = duration_ * double(p);
    setCurrentProgress(p);
    if (playbackState_ == PlaybackState::playing) {
        node_->stop();
        nextGeneration();
        if (!startFromSeekPosition() && playbackState_ == PlaybackState::playing) {
            // Nothing is left to play: let the clock stand at the seek position, so that the progress
            // timer finishes playback instead of counting on from the old start.
            restartClockAtSeekPosition();
        }
    } else if (playbackState_ == PlaybackState::paused) {
        seekedWhilePaused_ = true;
    }
}

void AudioPlayerManager::stop() {
    node_->stop();
    setPlaybackState(PlaybackState::stopped);
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    progressTimer_.stop();
    liveEQFilters_.reset();
    node_->setVolume(1.0f);
    isPlayingOriginal_ = false;
    isPlayingProcessedFile_ = false;
    seekedWhilePaused_ = false;
    chain_.reset();
    resetCompensation();
}

// MARK: EQ

void AudioPlayerManager::updateEQ(const EQSettings& settings) {
    const bool bandsDiffer = !(settings.bands == currentEQSettings_.bands);
    const bool enabledChanged = settings.isEnabled != currentEQSettings_.isEnabled;
    const float oldMasterGain = currentEQSettings_.masterGain;
    currentEQSettings_ = settings;
    updateNeededGain();
    if (enabledChanged) {
        liveEQFilters_.reset();
    }
    const bool audible = bandsDiffer || enabledChanged || oldMasterGain != settings.masterGain;
    if (audible && playbackState_ == PlaybackState::playing && !isPlayingOriginal_ && settings.isEnabled) {
        if (playbackStartTime_) {
            currentSeekPosition_ = std::min(secondsSinceStart(), duration_);
            if (duration_ > 0) {
                setCurrentProgress(float(currentSeekPosition_ / duration_));
            }
        }
        node_->stop();
        startFromSeekPosition();
    }
}

void AudioPlayerManager::updateNeededGain() {
    float bandTerm = 0.0f;
    if (currentEQSettings_.isEnabled) {
        for (const auto& band : currentEQSettings_.bands) {
            bandTerm = bandTerm + (band.gain + 5.0f) * 0.1f;
        }
    }
    const float estimate = currentFileLUFS_ + currentEQSettings_.masterGain + bandTerm;
    setNeededGainAdjustment(listeningTargetLUFS - estimate);
}

AudioBuffer AudioPlayerManager::processBuffer(AudioBuffer buffer) {
    if (!currentEQSettings_.isEnabled || isPlayingOriginal_) {
        setCompensation(0.0f);
        return buffer;
    }
    auto processed = processWithEQ(liveEQFilters_, buffer, currentEQSettings_, true);
    setCompensation(currentEQSettings_.masterGain);
    if (processed) {
        return std::move(*processed);
    }
    return buffer;
}

// MARK: real-time chunk chain

void AudioPlayerManager::scheduleProcessed(int64_t start, int64_t frames, uint32_t chunkFrames) {
    const uint64_t generation = nextGeneration();
    chain_ = ChunkChain{audioFile_, start, frames, chunkFrames, generation};
    if (!scheduleChainChunk(schedulingFailed)) {
        return;
    }
    // The chunk after the first goes in at once, so that a chunk is always waiting while another
    // plays; every notice then schedules one more.
    if (chainHasMore()) {
        scheduleChainChunk(chunkFailed);
    }
}

void AudioPlayerManager::scheduleNextChunk(uint64_t generation) {
    if (processingGeneration() != generation || !chain_ || chain_->generation != generation) {
        return; // a chain of an older generation ends here
    }
    // Paused counts too: a notice queued just before a pause must not end the chain, or playback
    // would fall silent after resuming. Scheduling onto a paused player only queues.
    if (playbackState_ != PlaybackState::playing && playbackState_ != PlaybackState::paused) {
        return;
    }
    if (chainHasMore()) {
        scheduleChainChunk(chunkFailed);
    }
}

bool AudioPlayerManager::chainHasMore() const {
    return chain_ && chain_->framesLeft > 0 && chain_->nextStart < chain_->file->lengthFrames();
}

bool AudioPlayerManager::scheduleChainChunk(const char* failureMessage) {
    ChunkChain& chain = *chain_;
    const auto frames = uint32_t(std::min<int64_t>(
        {chain.framesLeft, int64_t(chain.chunkFrames), chain.file->lengthFrames() - chain.nextStart}));
    AudioBuffer buffer;
    try {
        buffer = chain.file->makeBuffer(frames);
        chain.file->setFramePosition(chain.nextStart);
        chain.file->read(buffer, frames);
    } catch (const Error& error) {
        printFailure(failureMessage, error.description());
        chain_.reset();
        return false;
    } catch (const std::exception& error) {
        printFailure(failureMessage, error.what());
        chain_.reset();
        return false;
    }
    const uint32_t got = buffer.frameLength();
    chain.nextStart += frames;
    chain.framesLeft -= frames;
    if (got < frames) {
        chain.framesLeft = 0; // the file ends before its stated length: nothing more can be read
    }
    if (got == 0) {
        chain_.reset();
        return false;
    }
    auto processed = std::make_shared<const AudioBuffer>(processBuffer(std::move(buffer)));
    const uint64_t generation = chain.generation;
    node_->scheduleBuffer(std::move(processed), [this, generation] {
        postTo(this, [this, generation] { scheduleNextChunk(generation); });
    });
    return true;
}

// MARK: progress

double AudioPlayerManager::secondsSinceStart() const {
    return std::chrono::duration<double>(Clock::now() - *playbackStartTime_).count();
}

void AudioPlayerManager::restartClockAtSeekPosition() {
    playbackStartTime_ = Clock::now() - toClockDuration(currentSeekPosition_);
}

void AudioPlayerManager::startProgressTimer() { progressTimer_.start(); }

void AudioPlayerManager::progressTick() {
    if (playbackState_ != PlaybackState::playing || duration_ <= 0 || !playbackStartTime_) {
        return;
    }
    const double position = std::clamp(secondsSinceStart(), 0.0, duration_);
    setCurrentProgress(float(position / duration_));
    if (position >= duration_ - endDetectionSeconds) {
        postTo(this, [this] { finishPlayback(); });
    }
}

void AudioPlayerManager::finishPlayback() {
    if (playbackState_ != PlaybackState::playing) {
        return;
    }
    setPlaybackState(PlaybackState::stopped);
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    progressTimer_.stop();
    resetCompensation();
}

} // namespace orvanta
