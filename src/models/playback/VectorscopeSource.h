#pragma once

// Models only (QtCore).

#include "eq/EQFilter.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

namespace orvanta {

class AudioPlayerManager;
class VectorscopeManager;

// The samples the vectorscope view draws: about nine times a second while the player plays, 1024
// frames of the playing file at the player's position, through the player's EQ when it is on, thinned
// to about 128 points per channel and clamped to ±1. Empty while the player does not play, and for
// files with fewer than two channels. Lives on the main thread.
class VectorscopeSource : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<float> leftSamples READ leftSamples NOTIFY samplesChanged)
    Q_PROPERTY(QList<float> rightSamples READ rightSamples NOTIFY samplesChanged)

public:
    static constexpr uint32_t readWindowFrames = 1024;
    static constexpr uint32_t plottedPoints = 128;
    static constexpr std::chrono::milliseconds tickInterval{111}; // 1/9 s

    // Observes `player` and, when given, `manager` (both weakly).
    explicit VectorscopeSource(AudioPlayerManager& player, VectorscopeManager* manager = nullptr,
                               QObject* parent = nullptr);

    QList<float> leftSamples() const { return leftSamples_; }
    QList<float> rightSamples() const { return rightSamples_; }
    bool hasFile() const { return audioFile_ != nullptr; }
    bool isTicking() const { return timer_.isActive(); }

    // The view appeared: opens the manager's current URL, if any.
    void appear();

public slots:
    // The playing file changed ("VectorscopeURLChanged"): opens it, empties the lists and starts
    // ticking when the player plays. A file that cannot be opened leaves no file.
    void setPlayingURL(const QUrl& url);
    // One sampling step; normally called by the timer.
    void tick();

signals:
    void samplesChanged();

private:
    void openFile(const QUrl& url);
    void playbackStateChanged();
    void clearSamples();

    QPointer<AudioPlayerManager> player_;
    QPointer<VectorscopeManager> manager_;
    QTimer timer_;
    std::unique_ptr<AudioFileReader> audioFile_;
    AudioBuffer window_; // readWindowFrames in the file's format, made when the file opens
    // The preview resets its filter history on every tick, so it gets its own: resetting the shared
    // history would put a discontinuity into the live EQ of the chunk being filtered next.
    EQFilterBank previewFilterBank_;
    QList<float> leftSamples_;
    QList<float> rightSamples_;
};

} // namespace orvanta
