#include "models/eq/EQManager.h"

#include "models/playback/AudioPlayerManager.h"
#include "platform/PreferenceStore.h"

namespace orvanta {

namespace {
// Value equality of EQSettings leaves out isAutoReferenceMode; a published change must not.
bool identical(const EQSettings& a, const EQSettings& b) {
    return a == b && a.isAutoReferenceMode == b.isAutoReferenceMode;
}
} // namespace

EQManager::EQManager(AudioPlayerManager* player, PreferenceStore& store, QObject* parent)
    : QObject(parent), store_(store), audioPlayer_(player) {}

AudioPlayerManager* EQManager::audioPlayer() const { return audioPlayer_.data(); }

void EQManager::setIsVisible(bool visible) {
    if (isVisible_ != visible) {
        isVisible_ = visible;
        emit isVisibleChanged();
    }
}

void EQManager::setEqSettings(const EQSettings& settings) {
    if (!identical(eqSettings_, settings)) {
        eqSettings_ = settings;
        emit eqSettingsChanged();
    }
}

void EQManager::setIsAutoReferenceMode(bool autoReference) {
    if (isAutoReferenceMode_ != autoReference) {
        isAutoReferenceMode_ = autoReference;
        emit isAutoReferenceModeChanged();
    }
}

void EQManager::setHasEQModifications(bool modified) {
    if (hasEQModifications_ != modified) {
        hasEQModifications_ = modified;
        emit hasEQModificationsChanged();
    }
}

void EQManager::setIsEQDisabled(bool disabled) {
    if (isEQDisabled_ != disabled) {
        isEQDisabled_ = disabled;
        emit isEQDisabledChanged();
    }
}

void EQManager::resetToDefaults() {
    setEqSettings(defaultEQSettings());
    setHasEQModifications(false);
    setIsEQDisabled(false);
    setIsAutoReferenceMode(false);
    store_.remove(eqSettingsKey);
    store_.remove(activeEQSettingsKey);
    if (AudioPlayerManager* player = audioPlayer_.data()) {
        player->updateEQ(eqSettings_);
    }
}

} // namespace orvanta
