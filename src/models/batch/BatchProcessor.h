#pragma once

// Models only (QtCore, QtConcurrent).

#include "analyzer/AnalyzerPlan.h"
#include "batch/ExportFormat.h"
#include "batch/MasterFile.h"
#include "engine/ProcessingTypes.h"
#include "models/batch/AudioFile.h"
#include "platform/Error.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QThreadPool;

namespace orvanta {

class EQManager;
class PreferenceStore;
class ProcessingStatusManager;
class ProgressUpdater;
class ReferenceTrackManager;

// What the latest successful pass produced, kept for the command line.
using BatchPassRecord = MasteredFile;

// The controller between the window and the mastering engine. Holds the loaded song (one AudioFile),
// runs the master, final and analyzer passes over it, converts each result into the export format
// and publishes progress and state. Lives on the main thread; every public function and every change
// of a published field happens there. Engine work runs on the pool it is given. The asynchronous
// operations return futures that finish on the main thread after the published state is updated;
// they never carry an error (a failed pass shows as status `failed`).
class BatchProcessor : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasCurrentFile READ hasCurrentFile NOTIFY currentFileChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(bool isFinalMode READ isFinalMode WRITE setIsFinalMode NOTIFY isFinalModeChanged)
    Q_PROPERTY(bool wasAnalyzerUsed READ wasAnalyzerUsed NOTIFY wasAnalyzerUsedChanged)
    Q_PROPERTY(QString usedPresetName READ usedPresetNameText NOTIFY usedPresetNameChanged)

public:
    // The collaborators belong to the application object and must outlive the processor: the store
    // gives the export format, the status manager shows the passes, the reference manager supplies
    // the reference and shows the spectra, the EQ manager shows a matched EQ; the engine runs on `pool`.
    BatchProcessor(PreferenceStore& store, ProcessingStatusManager& status, ReferenceTrackManager& reference,
                   EQManager& eq, QThreadPool& pool, QObject* parent = nullptr);
    ~BatchProcessor() override;

    // The loaded song and its results; none before loadFile and after reset or a cancel.
    const std::optional<AudioFile>& currentFile() const { return currentFile_; }
    bool hasCurrentFile() const { return currentFile_.has_value(); }
    // Replaces the entry (the window clears the final pair before a follow-up final pass).
    void setCurrentFile(std::optional<AudioFile> file);

    double progress() const { return progress_; } // 0…1 of the running pass
    bool isProcessing() const { return isProcessing_; }
    bool isFinalMode() const { return isFinalMode_; }
    void setIsFinalMode(bool finalMode);
    bool wasAnalyzerUsed() const { return wasAnalyzerUsed_; }
    const std::optional<std::string>& usedPresetName() const { return usedPresetName_; }
    QString usedPresetNameText() const; // empty when none

    // Opens and measures `url` off the main thread; true and a new pending entry when it opens as
    // audio (an unmeasurable file is loaded without originalStats), false and no change otherwise.
    QFuture<bool> loadFile(const std::filesystem::path& url);

    // Master pass (withReference false) of the loaded file into <base>_master.wav, or final pass
    // (withReference true) of its master with the reference-matched EQ into <base>_final.wav (the
    // master itself, re-measured, when no usable reference is loaded). Converts the result into the
    // export format and stores it in the entry. Does nothing without a loaded file.
    QFuture<void> processCurrentFile(std::optional<std::string> presetName, bool withReference, float targetLUFS,
                                     float limitThreshold);

    // Renders the analyzer's correction of the loaded file into <name>_analyzer_eq.wav, masters that
    // with the plan's settings and stores the result as the master. Does nothing without a loaded file.
    QFuture<void> processWithAnalyzerPlan(const AnalyzerPlan& plan);

    // Stops the running pass at the engine's next check; 0.2 s later the entry is dropped, progress
    // is 0 and final mode off.
    void cancelProcessing();

    // Drops the entry, clears analyzer use and final mode, zeroes the reference manager's original
    // and mastered spectra. Progress, isProcessing and the preset name stay.
    void reset();

    // The export format of every pass: this override when set (the command line), else the stored
    // "exportFormat" preference read at the start of each pass (wav when absent or unknown).
    void setExportFormatOverride(std::optional<ExportFormat> format) { exportFormatOverride_ = format; }
    std::optional<ExportFormat> exportFormatOverride() const { return exportFormatOverride_; }

    // The latest successful pass; cleared when a pass starts. Set before the entry's completed status
    // is published.
    const std::optional<BatchPassRecord>& lastPass() const { return lastPass_; }
    // The latest successful master (or corrected master) pass, kept through the final pass that
    // follows it; its result is the entry's masterURL.
    const std::optional<BatchPassRecord>& lastMasterPass() const { return lastMasterPass_; }

    // Why the latest loadFile or pass failed, as the engine or the platform said it (domain, code,
    // description naming the file): set by a loadFile that returns false, by one that loads a file
    // it cannot measure, and by a pass that ends `failed`; cleared when a pass starts. A cancelled
    // pass leaves none. Changed before the entry's failed status is published.
    const std::optional<Error>& lastError() const { return lastError_; }

signals:
    void currentFileChanged();
    void progressChanged();
    void isProcessingChanged();
    void isFinalModeChanged();
    void wasAnalyzerUsedChanged();
    void usedPresetNameChanged();
    void lastErrorChanged();

private:
    struct PassOutcome;
    struct PassContext;

    // Master or final pass of `url` (or of masterURL for a final pass): result or the pass's error.
    QFuture<PassOutcome> processFile(const std::filesystem::path& url,
                                     const std::optional<std::filesystem::path>& masterURL, bool withReference,
                                     float targetLUFS, float limitThreshold);
    QFuture<PassOutcome> renderAnalyzerPlan(const std::filesystem::path& url, const AnalyzerPlan& plan);
    // Any thread: whether cancelProcessing was called since the pass started.
    bool isCancelledNow() const;

    void beginPass(const std::optional<std::string>& presetName);
    void finishPass(const AudioFile& file, const PassOutcome& outcome, bool finalPass);
    void publishMasteredSpectrumOf(const std::filesystem::path& result);
    PassContext makePassContext(const AudioFile& file);
    ExportFormat exportFormat() const;
    // A pass's progress updater: values reach `progress` on the main thread while this object exists.
    std::shared_ptr<ProgressUpdater> makeProgressUpdater();
    // A pass's options for the core: export format, cancellation, progress and events of this object.
    MasteringOptions passOptions(const PassContext& context, const std::shared_ptr<ProgressUpdater>& updater);
    // Any thread: a pass's event on the status screen, and the reference pass's figures on the models.
    void showEvent(const MasteringEvent& event);
    // Runs the core's pass on the background pool; its result or its error.
    QFuture<PassOutcome> runPass(MasteringOptions options, bool logConversionFailure);

    void setProgress(double value);
    void setIsProcessing(bool processing);
    void setWasAnalyzerUsed(bool used);
    void setUsedPresetName(std::optional<std::string> name);
    void setLastError(std::optional<Error> error);

    PreferenceStore& store_;
    ProcessingStatusManager& status_;
    ReferenceTrackManager& reference_;
    EQManager& eq_;
    QThreadPool& pool_;
    std::optional<AudioFile> currentFile_;
    double progress_ = 0.0;
    bool isProcessing_ = false;
    bool isFinalMode_ = false;
    bool wasAnalyzerUsed_ = false;
    std::optional<std::string> usedPresetName_;
    mutable std::mutex cancellationLock;
    bool isCancelled = false; // guarded by cancellationLock

    std::optional<ExportFormat> exportFormatOverride_;
    std::optional<BatchPassRecord> lastPass_;
    std::optional<BatchPassRecord> lastMasterPass_;
    std::optional<Error> lastError_;
    QList<QFuture<void>> workers_; // engine tasks that still use this object; awaited on destruction
};

} // namespace orvanta
