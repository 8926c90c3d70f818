#include "app/ResultScreen.h"

#include "app/LoudnessToolTip.h"
#include "app/MasteringSummaryView.h"
#include "app/SpectrumBarsView.h"
#include "app/StreamingPreviewView.h"
#include "app/ThemeColors.h"
#include "app/TransportBar.h"
#include "app/VectorscopeView.h"
#include "app/WaveformView.h"
#include "models/app/MainWindowModel.h"
#include "models/app/NotificationHub.h"
#include "models/app/ResultTransport.h"
#include "models/app/WaveformCache.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/MainThread.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "models/playback/VectorscopeSource.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace orvanta {
namespace {

constexpr int savedNoticeMilliseconds = 2500;

QString loudnessText(const std::optional<AudioStats>& stats) {
    return stats ? QString::asprintf("%.1f LUFS", double(stats->lufs)) : QStringLiteral("-- LUFS");
}

// One row of the report's table: loudness, true peak (the sample peak where it was not measured)
// and loud-passage RMS, "--" where absent.
QString statsRow(const QString& name, const std::optional<AudioStats>& stats) {
    const auto cell = [](const QString& text) { return QStringLiteral("<td align=\"right\">%1</td>").arg(text); };
    QString row = QStringLiteral("<tr><td>%1</td>").arg(name);
    if (!stats) return row + cell(QStringLiteral("--")).repeated(3) + QStringLiteral("</tr>");
    row += cell(QString::asprintf("%.1f", double(stats->lufs)));
    row += cell(std::isfinite(stats->truePeak) ? QString::asprintf("%.1f", double(stats->truePeak))
                                               : QString::asprintf("%.1f dBFS", double(stats->peak)));
    row += cell(std::isfinite(stats->rms) ? QString::asprintf("%.1f", double(stats->rms)) : QStringLiteral("--"));
    return row + QStringLiteral("</tr>");
}

} // namespace

ResultScreen::ResultScreen(MainWindowModel& model, BatchProcessor& batch, AudioPlayerManager& player,
                           ReferenceTrackManager& reference, NotificationHub& hub, QThreadPool& pool,
                           QWidget* parent)
    : ThemedWidget(parent), model_(model), batch_(batch), player_(player), reference_(reference) {
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(makeHeader());
    layout->addWidget(makeVersionsCard(hub, pool), 3);
    addTransportKeys();
    layout->addLayout(makeViews(hub), 2);
    layout->addLayout(makeExportRow());
    layout->addLayout(makeReportRow());
    connectModels();
    // Listening first, then export and the analyzer; the destructive start-over last.
    QWidget* order[] = {playOriginal_, playProcessed_, transportBar_->playPauseButton(), transportBar_->originalButton(),
                        transportBar_->processedButton(), export_, exportAll_, reportToggle_, analyzer_, startOver_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    themeChanged();
    refresh();
}

// The song's name and the preset it was mastered with.
QLayout* ResultScreen::makeHeader() {
    auto* header = new QHBoxLayout;
    title_ = new QLabel;
    title_->setObjectName(QStringLiteral("screenTitle"));
    title_->setWordWrap(true);
    header->addWidget(title_, 1);
    preset_ = new QLabel;
    header->addWidget(preset_);
    return header;
}

// The two versions with their loudness and play buttons, their waveforms and the transport.
QWidget* ResultScreen::makeVersionsCard(NotificationHub& hub, QThreadPool& pool) {
    auto* card = new QGroupBox;
    card->setObjectName(QStringLiteral("card"));
    auto* versions = new QGridLayout(card);
    versions->addWidget(new QLabel(QStringLiteral("Original")), 0, 0);
    originalLoudness_ = new QLabel;
    versions->addWidget(originalLoudness_, 0, 1);
    playOriginal_ = new QPushButton;
    connect(playOriginal_, &QPushButton::clicked, this, [this] { model_.togglePlay(0, true); });
    versions->addWidget(playOriginal_, 0, 2);
    processedName_ = new QLabel;
    versions->addWidget(processedName_, 1, 0);
    processedLoudness_ = new QLabel;
    versions->addWidget(processedLoudness_, 1, 1);
    playProcessed_ = new QPushButton;
    connect(playProcessed_, &QPushButton::clicked, this, [this] { model_.togglePlay(0, false); });
    versions->addWidget(playProcessed_, 1, 2);
    versions->setColumnStretch(1, 1);

    // Both versions on one amplitude scale, the playhead, and the transport beside the needed gain.
    transport_ = new ResultTransport(model_, player_, this);
    // The analyzer panel's play buttons change the version that plays; the A/B switch shows it.
    connect(&hub, &NotificationHub::analyzerPlaybackChanged, transport_, &ResultTransport::selectVersion);
    waveformCache_ = new WaveformCache(pool, this);
    waveforms_ = new WaveformView;
    waveforms_->setMinimumHeight(96);
    versions->addWidget(waveforms_, 2, 0, 1, 3);
    auto* transportRow = new QHBoxLayout;
    transportBar_ = new TransportBar(*transport_);
    transportRow->addWidget(transportBar_);
    transportRow->addSpacing(12);
    neededGain_ = new QLabel;
    neededGain_->setObjectName(QStringLiteral("neededGain"));
    neededGain_->setWordWrap(true);
    transportRow->addWidget(neededGain_, 1);
    versions->addLayout(transportRow, 3, 0, 1, 3);
    versions->setRowStretch(2, 1);
    connect(waveforms_, &WaveformView::seekRequested, transport_, &ResultTransport::seekTo);
    const auto followPosition = [this] { waveforms_->setPlayheadSeconds(transport_->positionSeconds()); };
    connect(transport_, &ResultTransport::positionChanged, waveforms_, followPosition);
    connect(transport_, &ResultTransport::originalSelectedChanged, waveforms_,
            [this] { waveforms_->setOriginalEmphasised(transport_->originalSelected()); });
    return card;
}

void ResultScreen::addTransportKeys() {
    // The transport's keys; Space is the window's play/pause command.
    const auto addKey = [this](QKeySequence key, auto action) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, transport_, action);
    };
    addKey(QKeySequence(Qt::Key_Left), [this] { transport_->seekBy(-ResultTransport::stepSeconds); });
    addKey(QKeySequence(Qt::Key_Right), [this] { transport_->seekBy(ResultTransport::stepSeconds); });
    addKey(QKeySequence(Qt::Key_Home), [this] { transport_->seekTo(0.0); });
    addKey(QKeySequence(Qt::Key_A), [this] { transport_->switchVersion(); });
}

// The band levels against the reference, and the stereo image of the playing version.
QLayout* ResultScreen::makeViews(NotificationHub& hub) {
    auto* views = new QGridLayout;
    legend_ = new QLabel;
    views->addWidget(legend_, 0, 0);
    views->addWidget(new QLabel(QStringLiteral("Stereo image of the playing version")), 0, 1);
    spectrum_ = new SpectrumBarsView;
    spectrum_->bindTo(reference_);
    spectrum_->setMinimumHeight(90);
    views->addWidget(spectrum_, 1, 0);
    vectorscopeSource_ = new VectorscopeSource(player_, nullptr, this);
    vectorscope_ = new VectorscopeView(vectorscopeSource_);
    connect(&hub, &NotificationHub::vectorscopeUrlChanged, vectorscopeSource_,
            [source = vectorscopeSource_](const QString& path) { source->setPlayingURL(QUrl::fromLocalFile(path)); });
    vectorscope_->setMinimumSize(160, 90);
    views->addWidget(vectorscope_, 1, 1);
    views->setColumnStretch(0, 3);
    views->setColumnStretch(1, 2);
    views->setRowStretch(1, 1);
    connect(&reference_, &ReferenceTrackManager::currentProfileChanged, this, &ResultScreen::refreshLegend);
    return views;
}

QLayout* ResultScreen::makeExportRow() {
    auto* exportRow = new QHBoxLayout;
    export_ = new QPushButton(QStringLiteral("Export"));
    export_->setObjectName(QStringLiteral("primaryButton"));
    connect(export_, &QPushButton::clicked, this, &ResultScreen::exportRequested);
    exportRow->addWidget(export_);
    exportAll_ = new QPushButton(QStringLiteral("Export All"));
    connect(exportAll_, &QPushButton::clicked, this, &ResultScreen::exportAllRequested);
    exportRow->addWidget(exportAll_);
    saved_ = new QLabel(QStringLiteral("Saved Successfully!"));
    saved_->setObjectName(QStringLiteral("savedNotice"));
    saved_->setVisible(false);
    exportRow->addWidget(saved_);
    exportRow->addStretch();
    startOver_ = new QPushButton(QStringLiteral("Delete All && Start Over"));
    connect(startOver_, &QPushButton::clicked, &model_, &MainWindowModel::resetApplication);
    exportRow->addWidget(startOver_);
    return exportRow;
}

// What the run changed beside the quality report.
QLayout* ResultScreen::makeReportRow() {
    auto* bottom = new QHBoxLayout;
    summary_ = new MasteringSummaryView;
    bottom->addWidget(summary_, 3);
    streaming_ = new StreamingPreviewView;
    bottom->addWidget(streaming_, 2);
    auto* quality = new QGroupBox(QStringLiteral("Quality Analyzer"));
    auto* qualityLayout = new QVBoxLayout(quality);
    // The controls one above the other, so that the section stays narrow beside "What changed".
    auto* qualityControls = new QVBoxLayout;
    reportToggle_ = new QPushButton;
    connect(reportToggle_, &QPushButton::clicked, &model_, &MainWindowModel::toggleReport);
    qualityControls->addWidget(reportToggle_);
    analyzer_ = new QPushButton(QStringLiteral("Analyze Quality"));
    connect(analyzer_, &QPushButton::clicked, &model_, &MainWindowModel::openAnalyzerFromResult);
    qualityControls->addWidget(analyzer_);
    qualityLayout->addLayout(qualityControls);
    report_ = new QLabel;
    report_->setTextFormat(Qt::RichText);
    report_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    qualityLayout->addWidget(report_);
    qualityLayout->addStretch();
    bottom->addWidget(quality, 2);
    return bottom;
}

// Every change of the models that the screen shows.
void ResultScreen::connectModels() {
    connect(&batch_, &BatchProcessor::currentFileChanged, this, &ResultScreen::refresh);
    connect(&batch_, &BatchProcessor::isFinalModeChanged, this, &ResultScreen::refresh);
    connect(&batch_, &BatchProcessor::usedPresetNameChanged, this, &ResultScreen::refresh);
    connect(&model_, &MainWindowModel::playingChanged, this, &ResultScreen::refreshPlayButtons);
    connect(&model_, &MainWindowModel::playingChanged, this, &ResultScreen::refreshNeededGain);
    connect(&model_, &MainWindowModel::showReportChanged, this, &ResultScreen::refreshReport);
    connect(&model_, &MainWindowModel::isExportingChanged, this, &ResultScreen::refresh);
    connect(&player_, &AudioPlayerManager::neededGainAdjustmentChanged, this, &ResultScreen::refreshNeededGain);
    connect(&player_, &AudioPlayerManager::playbackStateChanged, this, &ResultScreen::refreshNeededGain);
    connect(&model_, &MainWindowModel::exportSucceeded, this, [this] {
        saved_->setVisible(true);
        QTimer::singleShot(savedNoticeMilliseconds, saved_, [this] { saved_->setVisible(false); });
    });
}

QString ResultScreen::originalLoudnessText() const { return originalLoudness_->text(); }
QString ResultScreen::processedLoudnessText() const { return processedLoudness_->text(); }
QString ResultScreen::neededGainText() const { return neededGain_->text(); }
bool ResultScreen::isSavedNoticeVisible() const { return saved_->isVisible(); }
bool ResultScreen::isReportVisible() const { return report_->isVisible(); }

void ResultScreen::showSpectra() {
    const auto& file = batch_.currentFile();
    if (!file) return;
    const std::optional<std::filesystem::path> processed = model_.processedResult();
    reference_.analyzeFileSpectrum(file->url, true);
    if (processed) reference_.analyzeFileSpectrum(*processed, false);
}

void ResultScreen::refresh() {
    const auto& file = batch_.currentFile();
    const bool finalMode = batch_.isFinalMode();
    title_->setText(file ? QString::fromStdString(file->filename) : QString());
    const QString preset = batch_.usedPresetNameText();
    preset_->setText(preset.isEmpty() ? QString() : QStringLiteral("Preset: ") + preset);
    processedName_->setText(finalMode ? QStringLiteral("Final") : QStringLiteral("Master"));
    originalLoudness_->setText(loudnessText(file ? file->originalStats : std::nullopt));
    originalLoudness_->setToolTip(loudnessToolTip(file && file->originalStats ? std::optional<double>(file->originalStats->lufs)
                                                                              : std::nullopt));
    const std::optional<AudioStats> processedStats =
        file ? (finalMode ? file->finalStats : file->masterStats) : std::nullopt;
    processedLoudness_->setText(loudnessText(processedStats));
    processedLoudness_->setToolTip(loudnessToolTip(processedStats ? std::optional<double>(processedStats->lufs) : std::nullopt));
    const bool completed = file && file->processingStatus == AudioFile::ProcessingStatus::completed;
    export_->setEnabled(completed && !model_.isExporting());
    exportAll_->setEnabled(completed && !model_.isExporting());
    analyzer_->setEnabled(file.has_value());
    transportBar_->setProcessedName(processedName_->text());
    refreshWaveforms();
    refreshSummary();
    refreshPlayButtons();
    refreshNeededGain();
    refreshReport();
}

void ResultScreen::refreshLegend() {
    const Theme& theme = this->theme();
    const auto swatch = [](ThemeColor colour, const QString& name) {
        return QStringLiteral("<span style=\"color:%1\">\u25A0</span> %2").arg(themeColor(colour).name(), name);
    };
    QString legend = swatch(theme.secondary, QStringLiteral("Original")) + QStringLiteral("&nbsp;&nbsp; ") +
                     swatch(theme.primary, QStringLiteral("Mastered"));
    if (reference_.hasProfile())
        legend += QStringLiteral("&nbsp;&nbsp; ") +
                  swatch(theme.accent, QStringLiteral("Reference: ") + reference_.referenceFileName().toHtmlEscaped());
    legend_->setText(legend);
}

void ResultScreen::refreshWaveforms() {
    const auto& file = batch_.currentFile();
    const bool completed = file && file->processingStatus == AudioFile::ProcessingStatus::completed;
    const std::filesystem::path original = completed ? file->url : std::filesystem::path();
    const std::filesystem::path processed = completed ? model_.processedResult().value_or(std::filesystem::path())
                                                      : std::filesystem::path();
    waveforms_->setLaneNames(QStringLiteral("Original"), processedName_->text());
    if (original == shownOriginal_ && processed == shownProcessed_) return;
    if (original != shownOriginal_) transport_->reset();
    shownOriginal_ = original;
    shownProcessed_ = processed;
    waveforms_->setOverviews(nullptr, nullptr);
    transport_->setSongDuration(0);
    if (original.empty()) return;
    // Read off the main thread; the answer is shown only if it is still about the files on screen.
    const auto show = [this, original, processed] {
        if (original != shownOriginal_ || processed != shownProcessed_) return;
        waveforms_->setOverviews(waveformCache_->cached(original),
                                 processed.empty() ? nullptr : waveformCache_->cached(processed));
        transport_->setSongDuration(waveforms_->timelineSeconds());
        refreshSummary(); // the loudness ranges come with the overviews
    };
    thenOnMainThread(waveformCache_->overview(original), this, [show](const WaveformCache::Overview&) { show(); });
    if (!processed.empty())
        thenOnMainThread(waveformCache_->overview(processed), this, [show](const WaveformCache::Overview&) { show(); });
}

void ResultScreen::refreshSummary() {
    const auto& file = batch_.currentFile();
    const bool completed = file && file->processingStatus == AudioFile::ProcessingStatus::completed;
    MasteringSummary summary;
    const GainReductionEnvelope* reduction = nullptr;
    if (completed) {
        const bool finalMode = batch_.isFinalMode();
        summary.before = file->originalStats;
        summary.after = finalMode ? file->finalStats : file->masterStats;
        // The records are taken only while they are about the entry's results.
        const auto& masterPass = batch_.lastMasterPass();
        const BatchPassRecord* master =
            masterPass && file->masterURL && masterPass->result.outputURL == *file->masterURL ? &*masterPass : nullptr;
        const auto& lastPass = batch_.lastPass();
        const BatchPassRecord* final =
            finalMode && lastPass && file->finalURL && lastPass->result.outputURL == *file->finalURL ? &*lastPass
                                                                                                    : nullptr;
        const auto gainOf = [](const BatchPassRecord* pass) -> std::optional<float> {
            if (!pass || !pass->pipeline) return std::nullopt;
            return 20.0f * std::log10(pass->pipeline->totalGain);
        };
        summary.gainDb = gainOf(master);
        if (master && master->pipeline) summary.passes = master->pipeline->passes;
        if (final) {
            summary.finalGainDb = gainOf(final);
            summary.matchedEQ = final->matchedEQ;
        }
        // The limiting that made the master, where the song met its gain; a final version's pass only
        // stands in when the master's record is gone.
        const BatchPassRecord* made = master && master->pipeline ? master : final;
        if (made && made->pipeline && !made->pipeline->gainReduction.empty()) {
            reduction = &made->pipeline->gainReduction;
            summary.largestReductionDb = reduction->maximumDb;
            summary.averageReductionDb = reduction->averageDb;
        }
        if (const auto overview = waveformCache_->cached(file->url)) summary.loudnessRangeBefore = overview->loudnessRange;
        if (const auto processed = model_.processedResult())
            if (const auto overview = waveformCache_->cached(*processed))
                summary.loudnessRangeAfter = overview->loudnessRange;
    }
    summary_->setSummary(summary);
    streaming_->setProcessed(summary.after);
    if (!reduction) {
        shownReduction_.reset();
    } else if (!shownReduction_ || *shownReduction_ != *reduction) {
        shownReduction_ = std::make_shared<const GainReductionEnvelope>(*reduction);
    }
    waveforms_->setGainReduction(shownReduction_);
}

void ResultScreen::themeChanged() {
    const Theme& theme = this->theme();
    spectrum_->setTheme(theme);
    vectorscope_->setTheme(theme);
    streaming_->setHighlightColour(themeColor(theme.warning));
    refreshLegend();
    waveforms_->setColours(themeColor(theme.secondary), themeColor(theme.primary), themeColor(theme.textPrimary),
                           themeColor(theme.elementBackground));
    waveforms_->setReductionColour(gainReductionColour(theme));
    summary_->setColours(themeColor(theme.accent), themeColor(theme.textPrimary), themeColor(theme.elementBackground));
}

void ResultScreen::refreshPlayButtons() {
    const bool playingThisFile = model_.playingFileIndex() == 0;
    const bool original = playingThisFile && model_.playingOriginal();
    const bool processed = playingThisFile && !model_.playingOriginal();
    playOriginal_->setText(original ? QStringLiteral("Pause Original") : QStringLiteral("Play Original"));
    playProcessed_->setText(processed ? QStringLiteral("Pause Processed") : QStringLiteral("Play Processed"));
    playOriginal_->setEnabled(batch_.hasCurrentFile());
    playProcessed_->setEnabled(batch_.hasCurrentFile());
}

void ResultScreen::refreshNeededGain() {
    if (!model_.playingFileIndex()) {
        neededGain_->setText(QStringLiteral("Play a version to compare it at equal loudness."));
        return;
    }
    neededGain_->setText(
        QString::asprintf("Needed gain for fair comparison: %+.1f dB", double(player_.neededGainAdjustment())));
}

void ResultScreen::refreshReport() {
    reportToggle_->setText(model_.showReport() ? QStringLiteral("Hide Report") : QStringLiteral("Show Report"));
    report_->setVisible(model_.showReport());
    const auto& file = batch_.currentFile();
    if (!file) {
        report_->clear();
        return;
    }
    // A small table: the section sits narrow beside "What changed".
    QString table = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\"><tr><td></td><td align=\"right\">LUFS</td>"
                                   "<td align=\"right\">&nbsp;dBTP</td><td align=\"right\">&nbsp;RMS dB</td></tr>");
    table += statsRow(QStringLiteral("Original"), file->originalStats);
    table += statsRow(QStringLiteral("Master"), file->masterStats);
    if (file->finalStats) table += statsRow(QStringLiteral("Final"), file->finalStats);
    table += QStringLiteral("</table>");
    if (file->originalStats && (file->finalStats || file->masterStats)) {
        const AudioStats& processed = file->finalStats ? *file->finalStats : *file->masterStats;
        table += QString::asprintf("Loudness change: %+.1f LU", double(processed.lufs - file->originalStats->lufs));
    }
    report_->setText(table);
    report_->setToolTip(loudnessToolTip());
}

} // namespace orvanta
