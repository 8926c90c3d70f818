#pragma once

#include "app/ThemedWidget.h"

#include <filesystem>
#include <memory>

class QLabel;
class QLayout;
class QPushButton;

class QThreadPool;

namespace orvanta {

class AudioPlayerManager;
class BatchProcessor;
class MasteringSummaryView;
class MainWindowModel;
class NotificationHub;
class ReferenceTrackManager;
class ResultTransport;
class SpectrumBarsView;
class StreamingPreviewView;
class TransportBar;
class VectorscopeSource;
class VectorscopeView;
class WaveformCache;
class WaveformView;
struct GainReductionEnvelope;

// The third screen: the finished song's card with play controls and "%.1f LUFS" figures for the
// original and the processed version, their waveforms with a playhead and the transport (play/pause,
// A/B switch, time; keys Left/Right seek 5 s, Home goes to the start, A switches the version) beside
// the needed gain of the playing version, the limiter's gain-reduction lane under the processed
// waveform, the spectrum bars, the vectorscope, "What changed" with the streaming preview beside it, the export controls with the "Saved
// Successfully!" notice, the "Quality Analyzer" section with its report toggle, and "Delete All &
// Start Over". The vectorscope follows the file that `hub` names as playing. Main thread.
class ResultScreen : public ThemedWidget {
    Q_OBJECT

public:
    ResultScreen(MainWindowModel& model, BatchProcessor& batch, AudioPlayerManager& player,
                 ReferenceTrackManager& reference, NotificationHub& hub, QThreadPool& pool, QWidget* parent = nullptr);

    QPushButton* playOriginalButton() const { return playOriginal_; }
    QPushButton* playProcessedButton() const { return playProcessed_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* exportAllButton() const { return exportAll_; }
    QPushButton* reportToggle() const { return reportToggle_; }
    QPushButton* analyzerButton() const { return analyzer_; }
    QPushButton* startOverButton() const { return startOver_; }
    QString originalLoudnessText() const;
    QString processedLoudnessText() const;
    QString neededGainText() const;
    WaveformView* waveformView() const { return waveforms_; }
    MasteringSummaryView* summaryView() const { return summary_; }
    StreamingPreviewView* streamingView() const { return streaming_; }
    VectorscopeView* vectorscopeView() const { return vectorscope_; }
    TransportBar* transportBar() const { return transportBar_; }
    ResultTransport& transport() const { return *transport_; }
    bool isSavedNoticeVisible() const;
    bool isReportVisible() const;

    // Publishes the finished song's original and processed 12-band spectra for the bars.
    void showSpectra();

signals:
    // The export controls; the window asks for the version and the destination.
    void exportRequested();
    void exportAllRequested();

protected:
    void themeChanged() override;

private:
    // The parts of the screen, top to bottom, built once by the constructor.
    QLayout* makeHeader();
    QWidget* makeVersionsCard(NotificationHub& hub, QThreadPool& pool);
    void addTransportKeys();
    QLayout* makeViews(NotificationHub& hub);
    QLayout* makeExportRow();
    QLayout* makeReportRow();
    void connectModels();

    void refresh();
    void refreshPlayButtons();
    void refreshNeededGain();
    void refreshReport();
    void refreshLegend();
    void refreshWaveforms();
    void refreshSummary();

    MainWindowModel& model_;
    BatchProcessor& batch_;
    AudioPlayerManager& player_;
    ReferenceTrackManager& reference_;

    QLabel* title_;
    QLabel* preset_;
    QLabel* processedName_;
    QLabel* originalLoudness_;
    QLabel* processedLoudness_;
    QPushButton* playOriginal_;
    QPushButton* playProcessed_;
    QLabel* neededGain_;
    ResultTransport* transport_;
    WaveformCache* waveformCache_;
    WaveformView* waveforms_;
    TransportBar* transportBar_;
    std::filesystem::path shownOriginal_;  // the files whose waveforms are shown (or being read)
    std::filesystem::path shownProcessed_;
    std::shared_ptr<const GainReductionEnvelope> shownReduction_; // of the processed version, or null
    MasteringSummaryView* summary_;
    StreamingPreviewView* streaming_;
    QLabel* legend_;
    SpectrumBarsView* spectrum_;
    VectorscopeSource* vectorscopeSource_;
    VectorscopeView* vectorscope_;
    QPushButton* export_;
    QPushButton* exportAll_;
    QLabel* saved_;
    QPushButton* reportToggle_;
    QLabel* report_;
    QPushButton* analyzer_;
    QPushButton* startOver_;
};

} // namespace orvanta
