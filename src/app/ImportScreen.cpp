#include "app/ImportScreen.h"

#include "app/AudioFileCard.h"
#include "app/DropZoneWidget.h"
#include "batch/MasteringPresets.h"
#include "eq/MatchStrength.h"
#include "models/app/MainWindowModel.h"
#include "models/app/QtText.h"
#include "models/batch/AudioSettingsManager.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/MainThread.h"
#include "models/eq/ReferenceTrackManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvanta {

ImportScreen::ImportScreen(MainWindowModel& model, AudioSettingsManager& settings, BatchProcessor& batch,
                           ReferenceTrackManager& reference, QThreadPool& pool, std::filesystem::path demoSong,
                           QWidget* parent)
    : ThemedWidget(parent), model_(model), settings_(settings), batch_(batch), reference_(reference),
      demoSong_(std::move(demoSong)) {
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Drop a song to master it"));
    title->setObjectName(QStringLiteral("screenTitle"));
    layout->addWidget(title);
    layout->addLayout(makeSongRow(pool), 3);
    layout->addLayout(makeOptions());
    layout->addLayout(makeReferenceRow(pool), 1);
    layout->addLayout(makeControls());
    followModels();
    showMatchStrength();
    refresh();
}

// The song's drop zone beside the card of what was dropped, and the demo song's button.
QHBoxLayout* ImportScreen::makeSongRow(QThreadPool& pool) {
    songDrop_ = new DropZoneWidget(QStringLiteral("Drop audio file here"));
    songDrop_->setObjectName(QStringLiteral("songDropZone"));
    connect(songDrop_, &DropZoneWidget::filesDropped, this, [this](const QStringList& paths) { dropSong(paths.front()); });
    // An audio item that is no local file cannot be turned into a file to open.
    connect(songDrop_, &DropZoneWidget::dropFailed, this, [this] { model_.dropFailed(false); });
    auto* songRow = new QHBoxLayout;
    songRow->addWidget(songDrop_, 3);
    auto* songColumn = new QVBoxLayout;
    songCard_ = new AudioFileCard(QStringLiteral("Song"), pool);
    songColumn->addWidget(songCard_);
    song_ = new QLabel;
    song_->setObjectName(QStringLiteral("songName"));
    song_->setWordWrap(true);
    songColumn->addWidget(song_);
    demo_ = new QPushButton(QStringLiteral("Use Demo Song"));
    demo_->setVisible(!demoSong_.empty());
    connect(demo_, &QPushButton::clicked, this, [this] { dropSong(QString::fromStdString(demoSong_.string())); });
    songColumn->addWidget(demo_, 0, Qt::AlignLeft);
    songColumn->addStretch();
    songRow->addLayout(songColumn, 2);
    return songRow;

}

// Loudness preset, export format, rate, dither shaping and the analyzer switch.
QGridLayout* ImportScreen::makeOptions() {
    auto* options = new QGridLayout;
    options->addWidget(new QLabel(QStringLiteral("Loudness")), 0, 0);
    presets_ = new QComboBox;
    for (const MasteringPreset& preset : masteringPresets)
        presets_->addItem(qtText(preset.name));
    connect(presets_, &QComboBox::activated, this, [this](int index) { model_.choosePreset(index); });
    options->addWidget(presets_, 0, 1);
    presetLabel_ = new QLabel;
    presetLabel_->setObjectName(QStringLiteral("presetLabel"));
    options->addWidget(presetLabel_, 0, 2);

    options->addWidget(new QLabel(QStringLiteral("Export format")), 1, 0);
    formats_ = new QComboBox;
    formats_->setObjectName(QStringLiteral("exportFormat"));
    for (const ExportFormat format : allExportFormats)
        formats_->addItem(qtText(displayName(format)));
    connect(formats_, &QComboBox::activated, this,
            [this](int index) { settings_.chooseExportFormat(allExportFormats[size_t(index)]); });
    options->addWidget(formats_, 1, 1);
    rates_ = new QComboBox;
    rates_->setObjectName(QStringLiteral("exportSampleRate"));
    rates_->setToolTip(QStringLiteral("The master's sample rate: the song's own, or converted before limiting"));
    for (const int rate : exportSampleRateChoices)
        rates_->addItem(rate == 0 ? QStringLiteral("Song's rate") : QStringLiteral("%1 kHz").arg(rate / 1000.0), rate);
    connect(rates_, &QComboBox::activated, this,
            [this](int index) { settings_.chooseExportSampleRate(rates_->itemData(index).toInt()); });
    options->addWidget(rates_, 1, 2, Qt::AlignLeft);
    noiseShaping_ = new QCheckBox(QStringLiteral("Noise-shaped dither for 16-bit files"));
    noiseShaping_->setObjectName(QStringLiteral("exportNoiseShaping"));
    noiseShaping_->setToolTip(QStringLiteral("Moves the dither's noise above 12 kHz, where it is heard least"));
    connect(noiseShaping_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != settings_.noiseShaping()) settings_.chooseNoiseShaping(on);
    });
    options->addWidget(noiseShaping_, 2, 0, 1, 3);
    analyzerMode_ = new QCheckBox(QStringLiteral("Analyze dropped songs with the Quality Analyzer"));
    connect(analyzerMode_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != settings_.useAnalyzer()) settings_.setUseAnalyzer(on);
    });
    options->addWidget(analyzerMode_, 3, 0, 1, 3);
    options->setColumnStretch(2, 1);
    return options;

}

// The reference's drop zone, its card, the match switch and strength.
QHBoxLayout* ImportScreen::makeReferenceRow(QThreadPool& pool) {
    auto* referenceRow = new QHBoxLayout;
    referenceDrop_ = new DropZoneWidget(QStringLiteral("Drop a reference track (optional)"));
    referenceDrop_->setObjectName(QStringLiteral("referenceDropZone"));
    referenceDrop_->setMinimumHeight(110);
    connect(referenceDrop_, &DropZoneWidget::filesDropped, this, [this](const QStringList& paths) {
        referenceBusy_->setText(QStringLiteral("Analyzing reference..."));
        droppedReference_ = paths.front().toStdString();
        thenOnMainThread(reference_.loadReference(paths.front().toStdString()), this, [this] { refresh(); })
            .onFailed(this, [this] { referenceBusy_->setText(QStringLiteral("The reference track could not be read.")); });
    });
    referenceRow->addWidget(referenceDrop_, 2);
    auto* referenceInfo = new QVBoxLayout;
    referenceName_ = new QLabel;
    referenceName_->setWordWrap(true);
    referenceName_->setVisible(false); // the card names it
    referenceInfo->addWidget(referenceName_);
    referenceCard_ = new AudioFileCard(QStringLiteral("Reference"), pool);
    referenceInfo->addWidget(referenceCard_);
    referenceBusy_ = new QLabel;
    referenceBusy_->setWordWrap(true);
    referenceInfo->addWidget(referenceBusy_);
    auto* matching = new QCheckBox(QStringLiteral("Match reference"));
    matching->setObjectName(QStringLiteral("matchReference"));
    connect(matching, &QCheckBox::toggled, this, [this](bool on) { reference_.setIsEnabled(on); });
    connect(&reference_, &ReferenceTrackManager::isEnabledChanged, matching,
            [this, matching] { matching->setChecked(reference_.isEnabled()); });
    referenceInfo->addWidget(matching);
    // Beside the switch: how much of the difference to the reference the matched EQ corrects.
    auto* strengthRow = new QHBoxLayout;
    strengthRow->addWidget(new QLabel(QStringLiteral("Match strength")));
    matchStrength_ = new QComboBox;
    matchStrength_->setObjectName(QStringLiteral("matchStrength"));
    for (const MatchStrengthStep& step : matchStrengthSteps)
        matchStrength_->addItem(qtText(step.name), QVariant(step.percent));
    connect(matchStrength_, &QComboBox::activated, this, [this](int index) {
        reference_.chooseMatchStrength(matchStrength_->itemData(index).toFloat());
    });
    connect(&reference_, &ReferenceTrackManager::matchStrengthChanged, this, &ImportScreen::showMatchStrength);
    strengthRow->addWidget(matchStrength_, 1);
    referenceInfo->addLayout(strengthRow);
    clearReference_ = new QPushButton(QStringLiteral("Clear Reference"));
    connect(clearReference_, &QPushButton::clicked, this, [this] { reference_.clearReference(); });
    referenceInfo->addWidget(clearReference_);
    referenceInfo->addStretch();
    referenceRow->addLayout(referenceInfo, 1);
    return referenceRow;

}

QHBoxLayout* ImportScreen::makeControls() {
    auto* controls = new QHBoxLayout;
    controls->addStretch();
    startWithReference_ = new QPushButton(QStringLiteral("Master + Reference"));
    connect(startWithReference_, &QPushButton::clicked, this, [this] { model_.startWithReference(); });
    controls->addWidget(startWithReference_);
    start_ = new QPushButton(QStringLiteral("Start Mastering"));
    start_->setObjectName(QStringLiteral("primaryButton"));
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { model_.start(); });
    controls->addWidget(start_);
    return controls;

}

// Every choice shown here follows the models, whoever changes it.
void ImportScreen::followModels() {
    connect(&model_, &MainWindowModel::presetLabelChanged, this, &ImportScreen::refresh);
    connect(&settings_, &AudioSettingsManager::exportFormatChanged, this, &ImportScreen::refresh);
    connect(&settings_, &AudioSettingsManager::exportSampleRateChanged, this, &ImportScreen::refresh);
    connect(&settings_, &AudioSettingsManager::noiseShapingChanged, this, &ImportScreen::refresh);
    connect(&batch_, &BatchProcessor::currentFileChanged, this, &ImportScreen::refresh);
    connect(&reference_, &ReferenceTrackManager::currentProfileChanged, this, &ImportScreen::refresh);
    connect(&reference_, &ReferenceTrackManager::isEnabledChanged, this, &ImportScreen::refresh);
}

QString ImportScreen::presetLabelText() const { return presetLabel_->text(); }
QString ImportScreen::songText() const { return song_->text(); }

void ImportScreen::showMatchStrength() {
    // A strength stored by hand between the steps is shown as one more item, e.g. "30 %".
    const float strength = reference_.matchStrength();
    const QString label = qtText(matchStrengthLabel(strength));
    while (matchStrength_->count() > int(matchStrengthSteps.size())) matchStrength_->removeItem(matchStrength_->count() - 1);
    int index = matchStrength_->findText(label);
    if (index < 0) {
        matchStrength_->addItem(label, QVariant(strength));
        index = matchStrength_->count() - 1;
    }
    matchStrength_->setCurrentIndex(index);
}

void ImportScreen::dropSong(const QString& path) { model_.dropFile(path.toStdString()); }

void ImportScreen::refresh() {
    const QString label = model_.presetLabel();
    presetLabel_->setText(label);
    const int presetIndex = presets_->findText(label);
    if (presetIndex >= 0) presets_->setCurrentIndex(presetIndex);
    for (size_t i = 0; i < allExportFormats.size(); ++i)
        if (allExportFormats[i] == settings_.exportFormat()) formats_->setCurrentIndex(int(i));
    const int rateIndex = rates_->findData(settings_.exportSampleRate());
    rates_->setCurrentIndex(rateIndex >= 0 ? rateIndex : 0);
    noiseShaping_->setChecked(settings_.noiseShaping());
    noiseShaping_->setEnabled(bitDepthOf(settings_.exportFormat()) == 16);
    analyzerMode_->setChecked(settings_.useAnalyzer());

    const bool hasSong = batch_.hasCurrentFile();
    song_->setText(hasSong ? QStringLiteral("Ready: ") + QString::fromStdString(batch_.currentFile()->filename)
                           : QStringLiteral("No song loaded"));
    const auto& file = batch_.currentFile();
    songCard_->setFile(hasSong ? file->url : std::filesystem::path(), QStringLiteral("Drop a song or open one"));
    if (hasSong) {
        // Figures of a silent or too short file mean nothing and are not shown.
        const auto& stats = file->originalStats;
        const bool measured = stats && stats->measurability == Measurability::measurable;
        songCard_->setMeasurements(measured ? std::optional<double>(stats->lufs) : std::nullopt,
                                   measured ? std::optional<double>(stats->truePeak) : std::nullopt);
    }
    start_->setEnabled(hasSong && !settings_.useAnalyzer());
    startWithReference_->setEnabled(hasSong && reference_.hasProfile() && reference_.isEnabled());

    const bool hasReference = reference_.hasProfile();
    referenceName_->setText(hasReference ? QStringLiteral("Reference: ") + reference_.referenceFileName()
                                         : QStringLiteral("No reference loaded"));
    if (hasReference) referenceBusy_->clear();
    // A profile kept from an earlier session names its file only; the format is read from a file
    // dropped in this one.
    if (!hasReference) referenceCard_->setFile({}, QStringLiteral("No reference loaded"));
    else if (QString::fromStdString(droppedReference_.filename().string()) == reference_.referenceFileName())
        referenceCard_->setFile(droppedReference_, {});
    else referenceCard_->setName(reference_.referenceFileName());
    if (hasReference) {
        const std::optional<float> lufs = reference_.referenceLUFS();
        referenceCard_->setMeasurements(lufs ? std::optional<double>(*lufs) : std::nullopt, std::nullopt);
    }
    clearReference_->setEnabled(hasReference);
}

void ImportScreen::themeChanged() {
    songDrop_->setTheme(theme());
    referenceDrop_->setTheme(theme());
}

} // namespace orvanta
