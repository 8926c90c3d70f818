#pragma once

// Models only (QtCore).

#include "batch/ExportFormat.h"

#include <QMetaType>
#include <QObject>

namespace orvanta {

class PreferenceStore;

// Preference keys of the mastering settings (floats). "exportFormat" is exportFormatKey.
inline constexpr const char* targetLoudnessKey = "targetLoudness";
inline constexpr const char* limitThresholdKey = "limitThreshold";
inline constexpr float defaultTargetLoudness = -8.0f; // LUFS
inline constexpr float defaultLimitThreshold = -0.3f; // dB

// The user's mastering settings, shared by the window and the batch processor. Created from the
// preference store; setting a property does not write the store (the settings panel calls
// storeSettings() / storeExportFormat() when it decides to). Main thread only; no locks.
class AudioSettingsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(float targetLoudness READ targetLoudness WRITE setTargetLoudness NOTIFY targetLoudnessChanged)
    Q_PROPERTY(float limitThreshold READ limitThreshold WRITE setLimitThreshold NOTIFY limitThresholdChanged)
    Q_PROPERTY(orvanta::ExportFormat exportFormat READ exportFormat WRITE setExportFormat NOTIFY exportFormatChanged)
    Q_PROPERTY(int exportSampleRate READ exportSampleRate WRITE setExportSampleRate NOTIFY exportSampleRateChanged)
    Q_PROPERTY(bool noiseShaping READ noiseShaping WRITE setNoiseShaping NOTIFY noiseShapingChanged)
    Q_PROPERTY(bool useAnalyzer READ useAnalyzer WRITE setUseAnalyzer NOTIFY useAnalyzerChanged)

public:
    // Reads "targetLoudness" and "limitThreshold" (writing the defaults −8.0 / −0.3 first for each key
    // without a readable float), "exportFormat" (an exact raw value such as "WAV", "M4A", "FLAC16",
    // otherwise wav) and "exportSampleRate" (Hz, 0 when absent or not a rate: the song's own). Target and
    // threshold are bounded to the accepted ranges (engine/SettingRanges.h): −30…−3 LUFS, −6…0 dBFS.
    // useAnalyzer starts false. The store must outlive the manager.
    explicit AudioSettingsManager(PreferenceStore& store, QObject* parent = nullptr);

    float targetLoudness() const { return targetLoudness_; }   // LUFS
    // A value outside −30…−3 LUFS is set to the nearest bound; one that is not a number is ignored.
    void setTargetLoudness(float lufs);
    float limitThreshold() const { return limitThreshold_; }   // dB
    // A value outside −6…0 dBFS is set to the nearest bound; one that is not a number is ignored.
    void setLimitThreshold(float decibels);
    ExportFormat exportFormat() const { return exportFormat_; }
    void setExportFormat(ExportFormat format);
    // Hz; 0: the song's own rate.
    int exportSampleRate() const { return exportSampleRate_; }
    // A value that is not 0 or a rate from 8000 to 384000 Hz is ignored.
    void setExportSampleRate(int hertz);
    // Sets exportSampleRate and stores it (a float under "exportSampleRate") in the same step.
    void chooseExportSampleRate(int hertz);
    // 16-bit results get noise-shaped dither instead of flat TPDF ("exportNoiseShaping", default off).
    bool noiseShaping() const { return noiseShaping_; }
    void setNoiseShaping(bool on);
    // Sets noiseShaping and stores it in the same step.
    void chooseNoiseShaping(bool on);
    bool useAnalyzer() const { return useAnalyzer_; }
    void setUseAnalyzer(bool useAnalyzer);

    // Writes targetLoudness under "targetLoudness", then limitThreshold under "limitThreshold" (floats).
    void storeSettings();
    // Writes the raw value of exportFormat ("WAV", "M4A", "FLAC16", ...) under "exportFormat".
    void storeExportFormat();
    // Choosing a preset: useAnalyzer false, then the preset's target and threshold, then storeSettings().
    void applyPreset(float targetLUFS, float thresholdDecibels);
    // Sets exportFormat and stores it in the same step.
    void chooseExportFormat(ExportFormat format);

    PreferenceStore& store() const { return store_; }

signals:
    void targetLoudnessChanged();
    void limitThresholdChanged();
    void exportFormatChanged();
    void exportSampleRateChanged();
    void noiseShapingChanged();
    void useAnalyzerChanged();

private:
    PreferenceStore& store_;
    float targetLoudness_ = defaultTargetLoudness;
    float limitThreshold_ = defaultLimitThreshold;
    ExportFormat exportFormat_ = ExportFormat::wav;
    int exportSampleRate_ = 0; // Hz; 0: the song's own
    bool noiseShaping_ = false;
    bool useAnalyzer_ = false;
};

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::ExportFormat)
