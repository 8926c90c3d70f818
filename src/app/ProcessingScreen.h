#pragma once

#include <QWidget>

#include <QElapsedTimer>
#include <QTimer>

class QLabel;
class QLayout;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace orvanta {

class BatchProcessor;
class MainWindowModel;
class ProcessingStatusManager;

// The second screen, one card: the running pass's stage as "Step k of n" with its message and technical
// line, the progress bar with the time elapsed, the checklist as a table (state, title, value; the
// highlighted item emphasised) and the cancel control (which asks for confirmation). After a failed
// pass it says so; the cancel control then leads back to the import screen. Main thread.
class ProcessingScreen : public QWidget {
    Q_OBJECT

public:
    ProcessingScreen(MainWindowModel& model, BatchProcessor& batch, ProcessingStatusManager& status,
                     QWidget* parent = nullptr);

    QPushButton* cancelButton() const { return cancel_; }
    QString stageText() const;
    // "Step k of n" of the current stage.
    QString stepText() const;
    // One line per checklist row: "title   value".
    QStringList checklistTexts() const;
    // The row of the highlighted checklist item, or −1.
    int highlightedRow() const;
    QString elapsedText() const;
    int progressPermille() const;
    // The failure notice shown after a pass ended `failed`, with the engine's reason; empty otherwise.
    QString failureText() const;

private:
    QLayout* makeProgressRow();
    QTableWidget* makeChecklist();
    // The status manager's and the batch processor's changes, and the elapsed clock.
    void connectModels();

    void refreshStatus();
    void refreshChecklist();
    void refreshProgress();
    void refreshElapsed();

    BatchProcessor& batch_;
    ProcessingStatusManager& status_;
    QLabel* step_;
    QLabel* stage_;
    QLabel* message_;
    QLabel* technical_;
    QTableWidget* checklist_;
    QProgressBar* progress_;
    QLabel* percent_;
    QLabel* elapsed_;
    QElapsedTimer runClock_;
    QTimer elapsedTicks_; // once a second while a pass runs
    QLabel* failure_;
    QPushButton* cancel_;
};

} // namespace orvanta
