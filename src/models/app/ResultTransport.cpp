#include "models/app/ResultTransport.h"

#include "models/app/MainWindowModel.h"
#include "models/playback/AudioPlayerManager.h"

#include <algorithm>

namespace orvanta {

ResultTransport::ResultTransport(MainWindowModel& model, AudioPlayerManager& player, QObject* parent)
    : QObject(parent), model_(model), player_(player) {
    connect(&player_, &AudioPlayerManager::currentProgressChanged, this, &ResultTransport::positionChanged);
    connect(&player_, &AudioPlayerManager::durationChanged, this, &ResultTransport::durationChanged);
    connect(&player_, &AudioPlayerManager::playbackStateChanged, this, &ResultTransport::playerStateChanged);
    connect(&model_, &MainWindowModel::playingChanged, this, &ResultTransport::followModel);
}

double ResultTransport::durationSeconds() const {
    if (player_.playbackState() != PlaybackState::stopped && player_.duration() > 0) return player_.duration();
    return songSeconds_ > 0 ? songSeconds_ : player_.duration();
}

void ResultTransport::setSongDuration(double seconds) {
    if (seconds == songSeconds_) return;
    songSeconds_ = std::max(seconds, 0.0);
    emit durationChanged();
}

double ResultTransport::positionSeconds() const {
    if (player_.playbackState() != PlaybackState::stopped) return double(player_.currentProgress()) * player_.duration();
    return cursorSeconds_;
}

bool ResultTransport::isPlaying() const { return player_.playbackState() == PlaybackState::playing; }

void ResultTransport::playerStateChanged() {
    // Stopped (by the end of the song, start-over or a version being loaded): the next play starts at
    // the beginning unless a seek says otherwise.
    if (player_.playbackState() == PlaybackState::stopped) cursorSeconds_ = 0;
    emit playingChanged();
    emit positionChanged();
}

void ResultTransport::followModel() {
    if (model_.playingFileIndex() == 0) selectVersion(model_.playingOriginal());
}

void ResultTransport::playPause() {
    if (isPlaying()) {
        // Through the model while its play controls own the run, so that they show "Play" again.
        if (model_.playingFileIndex() == 0) model_.togglePlay(0, model_.playingOriginal());
        else player_.pause();
        return;
    }
    playSelected(positionSeconds());
}

void ResultTransport::playSelected(double atSeconds) {
    // The model's play control pauses when its version is already marked as playing (a run that has
    // since ended or was paused elsewhere): that first call only clears the mark.
    if (model_.playingFileIndex() == 0 && model_.playingOriginal() == originalSelected_)
        model_.togglePlay(0, originalSelected_);
    model_.togglePlay(0, originalSelected_);
    if (atSeconds > 0 && player_.duration() > 0) player_.seek(float(atSeconds / player_.duration()));
}

void ResultTransport::seekTo(double seconds) {
    const double duration = durationSeconds();
    const double target = std::clamp(seconds, 0.0, std::max(duration, 0.0));
    if (player_.playbackState() != PlaybackState::stopped && player_.duration() > 0) {
        player_.seek(float(target / player_.duration()));
    } else {
        cursorSeconds_ = target;
    }
    emit positionChanged();
}

void ResultTransport::seekBy(double seconds) { seekTo(positionSeconds() + seconds); }

void ResultTransport::switchVersion() {
    const bool playing = isPlaying();
    const double at = positionSeconds();
    selectVersion(!originalSelected_);
    if (!playing) return;
    // The model's switch keeps the position of a run it started; one started elsewhere (the analyzer
    // panel) is moved there afterwards.
    const bool modelRun = model_.playingFileIndex() == 0;
    model_.togglePlay(0, originalSelected_);
    if (!modelRun && at > 0 && player_.duration() > 0) player_.seek(float(at / player_.duration()));
}

void ResultTransport::selectVersion(bool original) {
    if (original == originalSelected_) return;
    originalSelected_ = original;
    emit originalSelectedChanged();
}

void ResultTransport::reset() {
    cursorSeconds_ = 0;
    selectVersion(false);
    emit positionChanged();
}

} // namespace orvanta
