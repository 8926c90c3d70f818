#pragma once

// Models only (QtCore).

#include <QObject>

namespace orvanta {

class AudioPlayerManager;
class MainWindowModel;

// The result screen's transport over the window model's play controls: one position on the song's
// time line that the playhead shows, play/pause of the chosen version from that position, seeking,
// and the A/B switch between original and processed. While the player holds the song the position is
// the player's; while it is stopped it is a cursor of our own, where the next play starts.
// Main thread.
class ResultTransport : public QObject {
    Q_OBJECT
    Q_PROPERTY(double positionSeconds READ positionSeconds NOTIFY positionChanged)
    Q_PROPERTY(bool playing READ isPlaying NOTIFY playingChanged)
    Q_PROPERTY(bool originalSelected READ originalSelected NOTIFY originalSelectedChanged)

public:
    static constexpr double stepSeconds = 5.0; // the arrow keys' seek

    ResultTransport(MainWindowModel& model, AudioPlayerManager& player, QObject* parent = nullptr);

    // Seconds from the start of the song.
    double positionSeconds() const;
    // The song's length in seconds: the loaded version's while the player holds it, else the one set.
    double durationSeconds() const;
    void setSongDuration(double seconds);
    bool isPlaying() const;
    // The version that plays next, or plays now.
    bool originalSelected() const { return originalSelected_; }

    // Pauses, or plays the chosen version from the position.
    void playPause();
    // Moves the position (clamped to the song); playback, if any, goes on from there.
    void seekTo(double seconds);
    void seekBy(double seconds);
    // The A/B switch: playback, if any, continues in the other version at the same position.
    void switchVersion();
    void selectVersion(bool original);
    // A new song: back to the start, processed version chosen.
    void reset();

signals:
    void positionChanged();
    void playingChanged();
    void originalSelectedChanged();
    void durationChanged();

private:
    void playSelected(double atSeconds);
    void followModel();
    void playerStateChanged();

    MainWindowModel& model_;
    AudioPlayerManager& player_;
    double cursorSeconds_ = 0;   // the position while the player is stopped
    double songSeconds_ = 0;
    bool originalSelected_ = false;
};

} // namespace orvanta
