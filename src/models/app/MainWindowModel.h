#pragma once

// Models only (QtCore).

#include "analyzer/AnalyzerPlan.h"
#include "analyzer/AudioAnalysisResult.h"
#include "models/app/WindowAlerts.h"

#include <QFuture>
#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>

class QThreadPool;

namespace orvanta {

class AudioPlayerManager;
class AudioSettingsManager;
class BatchProcessor;
class EQManager;
class NotificationHub;
class PreferenceStore;
class ReferenceTrackManager;

// The window's workflow without widgets: the screen shown, file intake, the mastering runs, playback
// of original and processed versions, export, reset and the analyzer mode. Alerts are published in
// `alertType`; the view shows alertContent() and answers with answerAlert(). Main thread only; the
// returned futures finish on the main thread once the published state is updated.
class MainWindowModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int appState READ appStateNumber NOTIFY appStateChanged)
    Q_PROPERTY(bool hasAlert READ hasAlert NOTIFY alertTypeChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)
    Q_PROPERTY(bool showReport READ showReport NOTIFY showReportChanged)
    Q_PROPERTY(bool showAnalyzerPanel READ showAnalyzerPanel NOTIFY showAnalyzerPanelChanged)

public:
    MainWindowModel(BatchProcessor& batch, AudioSettingsManager& settings, AudioPlayerManager& player,
                    ReferenceTrackManager& reference, EQManager& eq, PreferenceStore& store, NotificationHub& hub,
                    QThreadPool& pool, QObject* parent = nullptr);

    AppState appState() const { return appState_; }
    int appStateNumber() const { return int(appState_); }
    const std::optional<AlertType>& alertType() const { return alertType_; }
    // Why the current alert was raised, as the platform said it ("The file \"p.wav\" is a named pipe
    // (FIFO), not an audio file"); empty when there is nothing to add to the alert's fixed text.
    const QString& alertDetail() const { return alertDetail_; }
    bool hasAlert() const { return alertType_.has_value(); }
    bool isExporting() const { return isExporting_; }
    bool showReport() const { return showReport_; }
    bool showAnalyzerPanel() const { return showAnalyzerPanel_; }
    const std::optional<int>& playingFileIndex() const { return playingFileIndex_; }
    bool playingOriginal() const { return playingOriginal_; }

    // The window is shown: clean-up of rendered files, analyzer use off.
    void windowShown();
    // "ANALYZER", the matching preset's name or "CUSTOM".
    QString presetLabel() const;
    // Writes the preset's target and threshold (analyzer use off).
    void choosePreset(int index);

    // A file dropped or opened on the import screen. Raises invalidFileFormat (with the reason in
    // alertDetail: not a regular file, not audio, too many channels, ...) or fileTooLong (over 900 s)
    // and loads nothing; in analyzer use opens the panel; otherwise loads it. A folder, a named pipe,
    // a socket or a device is refused before anything opens it, so a pipe never blocks the window.
    QFuture<void> dropFile(const std::filesystem::path& file);
    // A drop whose item could not be read (itemError) or turned into a file path.
    void dropFailed(bool itemError);

    // The start control (analyzer use off): removes "ActiveEQSettings", then a master run.
    QFuture<void> start();
    // The "Master + Reference" control: a reference run while reference matching is enabled.
    QFuture<void> startWithReference();
    // Runs the pass; on completion the result screen (after the reference follow-up when a profile is loaded).
    QFuture<void> startMasteringProcess(bool withReference);
    // The processing screen's cancel control: asks for confirmation.
    void requestCancel();

    // Closes the alert; "Cancel" on the cancel confirmation runs resetApplication.
    void answerAlert(const QString& buttonLabel);

    // Play control of file `index`'s original (or processed) version.
    void togglePlay(int index, bool original);

    // The finished song's processed file: the final one in final mode when it exists, else the master.
    std::optional<std::filesystem::path> processedResult() const;

    // The proposed export file name for the chosen version (by default the one final mode names).
    QString proposedExportFileName(std::optional<ExportChoice> choice = std::nullopt) const;
    // Writes the chosen version to `destination`; raises exportError on failure. True on success.
    QFuture<bool> exportTo(const std::filesystem::path& destination, std::optional<ExportChoice> choice = std::nullopt);
    // Writes the completed current file into `directory` under the proposed name.
    QFuture<bool> exportAll(const std::filesystem::path& directory);

    void toggleReport();
    // "Delete All & Start Over": stop, cancel, EQ defaults, spectra zero, full clean-up, import screen.
    void resetApplication();

    // --- Analyzer mode ---
    const std::optional<std::filesystem::path>& analyzerURL() const { return analyzerURL_; }
    const std::optional<std::filesystem::path>& analyzerOriginalURL() const { return analyzerOriginalURL_; }
    bool analyzerIsMastered() const { return analyzerIsMastered_; }
    bool isAnalyzerRunning() const { return isAnalyzerRunning_; }
    const std::optional<AnalyzerPlan>& analyzerPlan() const { return analyzerPlan_; }
    const std::optional<AudioAnalysisResult>& lastAnalysisResult() const { return lastAnalysisResult_; }
    // The result screen's "Quality Analyzer" control: the panel on the finished song's processed file.
    void openAnalyzerFromResult();
    void analysisCompleted(const std::filesystem::path& url, AudioAnalysisResult result);
    // Builds the correction plan of the kept analysis and applies it.
    QFuture<void> repair();
    QFuture<void> applyAnalyzerPlan(const AnalyzerPlan& plan);
    void playFromAnalyzer(bool original);
    void closeAnalyzer();

signals:
    void appStateChanged();
    void alertTypeChanged();
    void isExportingChanged();
    void showReportChanged();
    void showAnalyzerPanelChanged();
    void playingChanged();
    void presetLabelChanged();
    void exportSucceeded();

private:
    void setAppState(AppState state);
    void raiseAlert(AlertType type, QString detail = {});
    void setIsExporting(bool exporting);
    void setShowAnalyzerPanel(bool show);
    std::optional<std::filesystem::path> exportSource(ExportChoice choice) const;
    ExportChoice defaultChoice() const;

    BatchProcessor& batch_;
    AudioSettingsManager& settings_;
    AudioPlayerManager& player_;
    ReferenceTrackManager& reference_;
    EQManager& eq_;
    PreferenceStore& store_;
    NotificationHub& hub_;
    QThreadPool& pool_;

    AppState appState_ = AppState::importFiles;
    std::optional<AlertType> alertType_;
    QString alertDetail_;
    bool isExporting_ = false;
    bool showReport_ = true;
    std::optional<int> playingFileIndex_;
    bool playingOriginal_ = false;
    unsigned generation_ = 0; // bumped by resetApplication: late results of older runs are dropped

    std::optional<std::filesystem::path> analyzerURL_;
    std::optional<std::filesystem::path> analyzerOriginalURL_;
    bool analyzerIsMastered_ = false;
    bool showAnalyzerPanel_ = false;
    std::optional<AnalyzerPlan> analyzerPlan_;
    bool isAnalyzerRunning_ = false;
    std::optional<AudioAnalysisResult> lastAnalysisResult_;
    std::optional<std::filesystem::path> lastAnalysisURL_;
};

} // namespace orvanta
