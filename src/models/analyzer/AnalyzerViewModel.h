#pragma once

// Models only (QtCore, QtConcurrent).

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/Spectrogram.h"

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

class QThreadPool;

namespace orvanta {

// The analyzer panel's analysis: one file at a time, its state, progress and result. The analysis and
// the peak pass after it run on the background pool; every published property is written on the
// main thread. Background work holds the view model only weakly (WeakBox): once the view model is
// destroyed, late updates do nothing and the running analysis is asked to stop.
class AnalyzerViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(orvanta::AnalyzerViewModel::State state READ state NOTIFY stateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString fileName READ fileName NOTIFY fileNameChanged)
    Q_PROPERTY(bool hasResult READ hasResult NOTIFY resultChanged)

public:
    enum class StateKind { idle, analyzing, completed, error };
    Q_ENUM(StateKind)

    // idle, analyzing, completed, or error with its message. Equal when the kinds are equal and,
    // for an error, the messages too.
    struct State {
        StateKind kind = StateKind::idle;
        QString errorMessage; // only for StateKind::error

        static State idle() { return {}; }
        static State analyzing() { return {StateKind::analyzing, {}}; }
        static State completed() { return {StateKind::completed, {}}; }
        static State error(QString message) { return {StateKind::error, std::move(message)}; }
        bool operator==(const State& other) const {
            return kind == other.kind && (kind != StateKind::error || errorMessage == other.errorMessage);
        }
    };

    // How background work refers to the view model: weakly.
    struct WeakBox {
        QPointer<AnalyzerViewModel> value;
    };

    // Analyses run on `pool`.
    explicit AnalyzerViewModel(QThreadPool& pool, QObject* parent = nullptr);
    ~AnalyzerViewModel() override;

    State state() const { return state_; }
    double progress() const { return progress_; } // 0…1
    QString fileName() const { return fileName_; } // last path component of the analysed file
    const std::optional<AudioAnalysisResult>& result() const { return result_; }
    bool hasResult() const { return result_.has_value(); }
    // The image of the result's spectrogram, rendered in the background with the analysis, so that the
    // panel need not render or copy the grid on the main thread; null without a result.
    const std::shared_ptr<const SpectrogramImage>& spectrogramImage() const { return spectrogramImage_; }

    // Main thread. Publishes fileName, progress 0.01 and state analyzing at once, then analyses the file
    // in the background: result then state completed (or state error with the failure's description),
    // followed by the peak pass, which fills the result's true peak and recomputes its use case (its
    // failure leaves the result as it was). A new analyze or reset supersedes a running one: the older
    // one's late updates are dropped. The future finishes once the analysis and its peak pass have been
    // applied on the main thread, or dropped; await it by running the event loop.
    QFuture<void> analyze(const std::filesystem::path& path);

    // Main thread. idle, progress 0, fileName "", no result; drops the updates of a running analysis.
    void reset();

signals:
    void stateChanged();
    void progressChanged();
    void fileNameChanged();
    void resultChanged();

private:
    struct Run;

    void setState(State state);
    void setProgress(double progress);
    void setFileName(QString name);
    void setResult(std::optional<AudioAnalysisResult> result);
    void supersedeRun();
    bool isCurrent(const std::shared_ptr<Run>& run) const { return run == run_; }

    QThreadPool& pool_;
    State state_;
    double progress_ = 0.0;
    QString fileName_;
    std::optional<AudioAnalysisResult> result_;
    std::shared_ptr<const SpectrogramImage> spectrogramImage_;
    std::shared_ptr<Run> run_; // the analysis whose updates are applied, if any
};

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::AnalyzerViewModel::State)
