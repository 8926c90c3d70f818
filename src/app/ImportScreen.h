#pragma once

#include <QString>
#include "app/ThemedWidget.h"

#include <filesystem>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;

class QThreadPool;

namespace orvanta {

class AudioFileCard;
class AudioSettingsManager;
class BatchProcessor;
class DropZoneWidget;
class MainWindowModel;
class ReferenceTrackManager;

// The first screen: the song's drop zone with "Open..." beside the card of the loaded song, the demo song, the preset picker (showing the
// current label, "CUSTOM" or "ANALYZER"), the export format, the reference drop area with "Match
// reference", its card, its "Match strength" steps and "Clear Reference", and the start and
// "Master + Reference" controls. Main thread.
class ImportScreen : public ThemedWidget {
    Q_OBJECT

public:
    // `demoSong` is offered with its own control when not empty.
    ImportScreen(MainWindowModel& model, AudioSettingsManager& settings, BatchProcessor& batch,
                 ReferenceTrackManager& reference, QThreadPool& pool, std::filesystem::path demoSong = {},
                 QWidget* parent = nullptr);

    DropZoneWidget* songDropZone() const { return songDrop_; }
    DropZoneWidget* referenceDropZone() const { return referenceDrop_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* referenceStartButton() const { return startWithReference_; }
    QPushButton* demoButton() const { return demo_; }
    QComboBox* presetPicker() const { return presets_; }
    QComboBox* formatPicker() const { return formats_; }
    QComboBox* ratePicker() const { return rates_; }
    QCheckBox* noiseShapingBox() const { return noiseShaping_; }
    QCheckBox* analyzerModeBox() const { return analyzerMode_; }
    QComboBox* matchStrengthPicker() const { return matchStrength_; }
    QString presetLabelText() const;
    QString songText() const;
    AudioFileCard* songCard() const { return songCard_; }
    AudioFileCard* referenceCard() const { return referenceCard_; }

protected:
    void themeChanged() override;

private:
    QHBoxLayout* makeSongRow(QThreadPool& pool);
    QGridLayout* makeOptions();
    QHBoxLayout* makeReferenceRow(QThreadPool& pool);
    QHBoxLayout* makeControls();
    void followModels();
    void refresh();
    void showMatchStrength();
    void dropSong(const QString& path);

    MainWindowModel& model_;
    AudioSettingsManager& settings_;
    BatchProcessor& batch_;
    ReferenceTrackManager& reference_;
    std::filesystem::path demoSong_;

    DropZoneWidget* songDrop_;
    QLabel* song_;
    AudioFileCard* songCard_;
    AudioFileCard* referenceCard_;
    std::filesystem::path droppedReference_; // the reference file dropped in this session
    QPushButton* demo_;
    QComboBox* presets_;
    QLabel* presetLabel_;
    QComboBox* formats_;
    QComboBox* rates_;
    QCheckBox* noiseShaping_;
    QCheckBox* analyzerMode_;
    DropZoneWidget* referenceDrop_;
    QLabel* referenceName_;
    QComboBox* matchStrength_;
    QPushButton* clearReference_;
    QPushButton* start_;
    QPushButton* startWithReference_;
    QLabel* referenceBusy_;
};

} // namespace orvanta
