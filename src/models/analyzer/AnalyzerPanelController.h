#pragma once

// Models only (QtCore, QtConcurrent).

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/ComparisonMode.h"
#include "eq/EQSettings.h"
#include "models/analyzer/AnalyzerSessionStore.h"
#include "models/analyzer/AnalyzerViewModel.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

namespace orvanta {

// What the window hands the analyzer panel, fixed for the panel's lifetime.
struct AnalyzerPanelInputs {
    std::optional<std::filesystem::path> initialURL;  // the file to analyse
    std::optional<std::filesystem::path> originalURL; // the unprocessed file, for a mastered initialURL
    bool isMastered = false;                          // initialURL is a processed (mastered) file
    bool canRepair = false;                           // the repair action is offered
};

// The panel's calls on the window. Empty functions are not called; the play controls are shown only
// when their callbacks are set.
struct AnalyzerPanelCallbacks {
    // Takes its own copy of the result, to keep.
    std::function<void(const std::filesystem::path&, AudioAnalysisResult)> onAnalysisCompleted;
    std::function<void()> onRepair;
    std::function<void()> onClose;
    std::function<void()> onPlayOriginal;
    std::function<void()> onPlayMastered;
};

// The analyzer panel's logic, owned by the panel widget: decides when to analyse, when to analyse the
// original first, when to set or clear the baseline and when to report the completed analysis to the
// window (once per analysis). Owns the view model and the session store. Main thread only; the
// baseline analysis runs on the background pool and its late result does nothing once the
// controller is destroyed.
class AnalyzerPanelController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isAnalyzingOriginal READ isAnalyzingOriginal NOTIFY isAnalyzingOriginalChanged)
    Q_PROPERTY(QString comparisonModeRaw READ comparisonModeRaw NOTIFY comparisonModeChanged)

public:
    // Analyses run on `pool`.
    AnalyzerPanelController(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks, QThreadPool& pool,
                            QObject* parent = nullptr);
    ~AnalyzerPanelController() override;

    AnalyzerViewModel& viewModel() { return *viewModel_; }
    const AnalyzerViewModel& viewModel() const { return *viewModel_; }
    AnalyzerSessionStore& sessionStore() { return *sessionStore_; }
    const AnalyzerSessionStore& sessionStore() const { return *sessionStore_; }
    const AnalyzerPanelInputs& inputs() const { return inputs_; }

    // --- Events of the panel ---
    // The panel is shown. Acts only while the view model is idle: analyses initialURL, first analysing
    // originalURL as the baseline for a mastered file that has none. Call once.
    void start();
    // initialURL changed to `url` (acts only while idle; clears the baseline for an unprocessed file).
    void changeInitialURL(const std::filesystem::path& url);
    // A file dropped on the drop zone (the drop view delays it by 0.2 s itself). Clears the baseline
    // for an unprocessed file and analyses the dropped file.
    void dropFile(const std::filesystem::path& url);
    // The result view's reset: clears the baseline, then resets the view model.
    void resetFromResult();
    // "Try Again" on the error view: resets the view model, keeps the baseline.
    void tryAgain();
    void repair();        // calls onRepair
    void close();         // calls onClose
    void playOriginal();  // calls onPlayOriginal
    void playMastered();  // calls onPlayMastered
    void setComparisonMode(ComparisonMode mode);

    // --- State of the panel ---
    bool isAnalyzingOriginal() const { return isAnalyzingOriginal_; }
    ComparisonMode comparisonMode() const { return comparisonMode_; }
    QString comparisonModeRaw() const;
    const std::optional<std::filesystem::path>& pendingURL() const { return pendingURL_; }
    const std::optional<std::filesystem::path>& lastURL() const { return lastURL_; }
    bool didReport() const { return didReport_; }

    // --- What the panel shows ---
    // "Analyzing original..." with progress 0.5 while the baseline is analysed, else the view model's.
    double displayedProgress() const;
    // The "BEFORE"/"AFTER" switch is shown: a mastered file with a baseline.
    bool showsComparison() const;
    // The figures to show: the baseline's in "before" mode of a comparison, else the current result.
    const std::optional<AudioAnalysisResult>& displayedResult() const;
    bool offersRepair() const { return inputs_.canRepair; }
    // The EQ the repair would apply to the completed analysis: worked out on the background pool when
    // repair is offered and an analysis completes (from the file's 12-band levels, as the window's
    // repair does); none before that, or when it could not be worked out.
    const std::optional<EQSettings>& repairPreviewEQ() const { return repairPreviewEQ_; }
    bool offersPlayOriginal() const { return static_cast<bool>(callbacks_.onPlayOriginal); }
    bool offersPlayMastered() const { return static_cast<bool>(callbacks_.onPlayMastered); }

signals:
    void isAnalyzingOriginalChanged();
    void comparisonModeChanged();
    // The baseline analysis of the original has finished (with or without a baseline).
    void baselineTaskFinished();
    void repairPreviewChanged();

private:
    struct BaselineTask;

    void setPendingURL(const std::filesystem::path& url);
    void setIsAnalyzingOriginal(bool analyzing);
    void startBaselineTask(const std::filesystem::path& originalURL);
    void onStateChanged();
    void onResultChanged();
    void startRepairPreview(const std::filesystem::path& url, const AudioAnalysisResult& result);

    AnalyzerPanelInputs inputs_;
    AnalyzerPanelCallbacks callbacks_;
    QThreadPool& pool_;
    AnalyzerViewModel* viewModel_;       // child
    AnalyzerSessionStore* sessionStore_; // child
    std::optional<std::filesystem::path> pendingURL_;
    std::optional<std::filesystem::path> lastURL_;
    bool didReport_ = false;
    ComparisonMode comparisonMode_ = ComparisonMode::after;
    bool isAnalyzingOriginal_ = false;
    double lastSeenTruePeakDB_ = -120.0; // of the view model's result, to notice when it becomes known
    std::shared_ptr<std::atomic<bool>> baselineCancelled_;
    std::optional<EQSettings> repairPreviewEQ_;
    int repairPreviewRun_ = 0; // the latest preview started; an older one's answer is dropped
};

} // namespace orvanta
