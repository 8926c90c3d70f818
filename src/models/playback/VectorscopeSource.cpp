#include "models/playback/VectorscopeSource.h"

#include "models/playback/AudioPlayerManager.h"
#include "models/playback/VectorscopeManager.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace orvanta {

namespace {

QList<float> thinned(const float* samples, uint32_t frames) {
    const uint32_t step = frames < VectorscopeSource::plottedPoints ? 1 : frames >> 7;
    QList<float> points;
    points.reserve(qsizetype(frames / step + 1));
    for (uint32_t i = 0; i < frames; i += step) {
        points.append(std::clamp(samples[i], -1.0f, 1.0f));
    }
    return points;
}

} // namespace

VectorscopeSource::VectorscopeSource(AudioPlayerManager& player, VectorscopeManager* manager, QObject* parent)
    : QObject(parent), player_(&player), manager_(manager), timer_(this) {
    timer_.setInterval(tickInterval);
    connect(&timer_, &QTimer::timeout, this, &VectorscopeSource::tick);
    connect(player_.data(), &AudioPlayerManager::playbackStateChanged, this, &VectorscopeSource::playbackStateChanged);
}

void VectorscopeSource::appear() {
    if (manager_ && !manager_->currentURL().isEmpty()) {
        openFile(manager_->currentURL());
    }
}

void VectorscopeSource::setPlayingURL(const QUrl& url) { openFile(url); }

void VectorscopeSource::openFile(const QUrl& url) {
    audioFile_.reset();
    window_ = AudioBuffer();
    if (url.isLocalFile()) {
        try {
            auto reader = std::make_unique<AudioFileReader>(std::filesystem::path(url.toLocalFile().toStdString()));
            window_ = reader->makeBuffer(readWindowFrames);
            audioFile_ = std::move(reader);
        } catch (const std::exception&) {
            audioFile_.reset();
            window_ = AudioBuffer();
        }
    }
    clearSamples();
    if (player_ && player_->playbackState() == PlaybackState::playing) {
        timer_.start();
    }
}

void VectorscopeSource::playbackStateChanged() {
    if (player_ && player_->playbackState() == PlaybackState::playing) {
        timer_.start(); // restarts a running timer
    } else {
        timer_.stop();
        clearSamples();
    }
}

void VectorscopeSource::clearSamples() {
    if (leftSamples_.isEmpty() && rightSamples_.isEmpty()) {
        return;
    }
    leftSamples_.clear();
    rightSamples_.clear();
    emit samplesChanged();
}

void VectorscopeSource::tick() {
    if (!player_ || player_->playbackState() != PlaybackState::playing || !audioFile_ ||
        audioFile_->channelCount() < 2 || audioFile_->lengthFrames() < 1) {
        clearSamples();
        return;
    }
    const int64_t length = audioFile_->lengthFrames();
    const auto position = int64_t(std::trunc(double(length) * double(player_->currentProgress())));
    if (position < 0 || position >= length) {
        return;
    }
    try {
        audioFile_->setFramePosition(position);
        audioFile_->read(window_, uint32_t(std::min<int64_t>(length - position, readWindowFrames)));
    } catch (const std::exception&) {
        return;
    }
    const uint32_t frames = window_.frameLength();
    if (frames == 0) {
        return;
    }

    const AudioBuffer* source = &window_;
    std::optional<AudioBuffer> processed;
    const EQSettings& settings = player_->currentEQSettings();
    if (settings.isEnabled) {
        processed = processWithEQ(previewFilterBank_, window_, settings, false);
        if (processed) {
            source = &*processed;
        }
    }
    leftSamples_ = thinned(source->channel(0), frames);
    rightSamples_ = thinned(source->channel(1), frames);
    emit samplesChanged();
}

} // namespace orvanta
