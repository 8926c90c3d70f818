#pragma once

// Models only (QtCore).

#include "eq/EQSettings.h"

#include <QObject>
#include <QPointer>

namespace orvanta {

class AudioPlayerManager;
class PreferenceStore;

// The equalizer state the EQ and reference views show and playback uses: the current settings and a
// few view flags. Pushes the changes of its own operations into the audio player, which it holds
// weakly. Lives on the main thread; holds no locks.
class EQManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible WRITE setIsVisible NOTIFY isVisibleChanged)
    Q_PROPERTY(orvanta::EQSettings eqSettings READ eqSettings WRITE setEqSettings NOTIFY eqSettingsChanged)
    Q_PROPERTY(bool isAutoReferenceMode READ isAutoReferenceMode WRITE setIsAutoReferenceMode NOTIFY
                   isAutoReferenceModeChanged)
    Q_PROPERTY(bool hasEQModifications READ hasEQModifications WRITE setHasEQModifications NOTIFY
                   hasEQModificationsChanged)
    Q_PROPERTY(bool isEQDisabled READ isEQDisabled WRITE setIsEQDisabled NOTIFY isEQDisabledChanged)

public:
    // Linked to `player` (nothing is pushed when it is null or gone); resets remove the stored
    // settings from `store`, which must outlive the manager.
    EQManager(AudioPlayerManager* player, PreferenceStore& store, QObject* parent = nullptr);

    bool isVisible() const { return isVisible_; }
    void setIsVisible(bool visible);
    EQSettings eqSettings() const { return eqSettings_; }
    // Publishes settings (the views' edits, a reference-matched EQ). Does not push them into the player:
    // what plays decides that itself, so a matched EQ is not applied a second time to its own result.
    void setEqSettings(const EQSettings& settings);
    bool isAutoReferenceMode() const { return isAutoReferenceMode_; }
    void setIsAutoReferenceMode(bool autoReference);
    bool hasEQModifications() const { return hasEQModifications_; }
    void setHasEQModifications(bool modified);
    bool isEQDisabled() const { return isEQDisabled_; }
    void setIsEQDisabled(bool disabled);

    AudioPlayerManager* audioPlayer() const;

    // Default settings and flags (isVisible unchanged), removes "EQSettings" and "ActiveEQSettings" from
    // the preference store and passes the defaults to the player when it is alive.
    void resetToDefaults();

signals:
    void isVisibleChanged();
    void eqSettingsChanged();
    void isAutoReferenceModeChanged();
    void hasEQModificationsChanged();
    void isEQDisabledChanged();

private:
    PreferenceStore& store_;
    bool isVisible_ = false;
    EQSettings eqSettings_ = defaultEQSettings();
    bool isAutoReferenceMode_ = false;
    bool hasEQModifications_ = false;
    bool isEQDisabled_ = false;
    QPointer<AudioPlayerManager> audioPlayer_;
};

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::EQSettings)
