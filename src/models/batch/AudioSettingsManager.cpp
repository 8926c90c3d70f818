#include "models/batch/AudioSettingsManager.h"

#include "engine/SettingRanges.h"
#include "platform/PreferenceStore.h"

namespace orvanta {

namespace {
// A key without a readable float gets the default written first, so the store always holds the pair.
float storedOrDefault(PreferenceStore& store, const char* key, float fallback) {
    if (!store.floatValue(key)) store.setFloat(key, fallback);
    return store.floatValue(key).value_or(fallback);
}
} // namespace

AudioSettingsManager::AudioSettingsManager(PreferenceStore& store, QObject* parent)
    : QObject(parent), store_(store) {
    // A stored value outside the accepted range (an edited file, an older version) is bounded; the
    // store keeps it until the settings are stored again.
    targetLoudness_ = targetLoudnessRange.bound(storedOrDefault(store_, targetLoudnessKey, defaultTargetLoudness),
                                                defaultTargetLoudness);
    limitThreshold_ = limitThresholdRange.bound(storedOrDefault(store_, limitThresholdKey, defaultLimitThreshold),
                                                defaultLimitThreshold);
    useAnalyzer_ = false;
    exportFormat_ = exportFormatFromStored(store_.stringValue(exportFormatKey));
    exportSampleRate_ = exportSampleRateFromStored(store_.floatValue(exportSampleRateKey)).value_or(0);
    noiseShaping_ = store_.boolValue(exportNoiseShapingKey).value_or(false);
}

void AudioSettingsManager::setTargetLoudness(float lufs) {
    lufs = targetLoudnessRange.bound(lufs, targetLoudness_);
    if (targetLoudness_ != lufs) {
        targetLoudness_ = lufs;
        emit targetLoudnessChanged();
    }
}

void AudioSettingsManager::setLimitThreshold(float decibels) {
    decibels = limitThresholdRange.bound(decibels, limitThreshold_);
    if (limitThreshold_ != decibels) {
        limitThreshold_ = decibels;
        emit limitThresholdChanged();
    }
}

void AudioSettingsManager::setExportFormat(ExportFormat format) {
    if (exportFormat_ != format) {
        exportFormat_ = format;
        emit exportFormatChanged();
    }
}

void AudioSettingsManager::setExportSampleRate(int hertz) {
    if (hertz != 0 && !exportSampleRateFromStored(float(hertz))) return;
    if (exportSampleRate_ != hertz) {
        exportSampleRate_ = hertz;
        emit exportSampleRateChanged();
    }
}

void AudioSettingsManager::chooseExportSampleRate(int hertz) {
    setExportSampleRate(hertz);
    store_.setFloat(exportSampleRateKey, float(exportSampleRate_));
}

void AudioSettingsManager::setNoiseShaping(bool on) {
    if (noiseShaping_ != on) {
        noiseShaping_ = on;
        emit noiseShapingChanged();
    }
}

void AudioSettingsManager::chooseNoiseShaping(bool on) {
    setNoiseShaping(on);
    store_.setBool(exportNoiseShapingKey, noiseShaping_);
}

void AudioSettingsManager::setUseAnalyzer(bool useAnalyzer) {
    if (useAnalyzer_ != useAnalyzer) {
        useAnalyzer_ = useAnalyzer;
        emit useAnalyzerChanged();
    }
}

void AudioSettingsManager::storeSettings() {
    store_.setFloat(targetLoudnessKey, targetLoudness_);
    store_.setFloat(limitThresholdKey, limitThreshold_);
}

void AudioSettingsManager::storeExportFormat() {
    store_.setString(exportFormatKey, std::string(rawValue(exportFormat_)));
}

void AudioSettingsManager::applyPreset(float targetLUFS, float thresholdDecibels) {
    setUseAnalyzer(false);
    setTargetLoudness(targetLUFS);
    setLimitThreshold(thresholdDecibels);
    storeSettings();
}

void AudioSettingsManager::chooseExportFormat(ExportFormat format) {
    setExportFormat(format);
    storeExportFormat();
}

} // namespace orvanta
