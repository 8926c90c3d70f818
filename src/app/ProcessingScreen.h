#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace orvanta {

class BatchProcessor;
class MainWindowModel;
class ProcessingStatusManager;

// The second screen: the running pass's stage, message, technical line and checklist, its progress and
// the cancel control (which asks for confirmation). After a failed pass it says so; the cancel control
// then leads back to the import screen. Main thread.
class ProcessingScreen : public QWidget {
    Q_OBJECT

public:
    ProcessingScreen(MainWindowModel& model, BatchProcessor& batch, ProcessingStatusManager& status,
                     QWidget* parent = nullptr);

    QPushButton* cancelButton() const { return cancel_; }
    QString stageText() const;
    QStringList checklistTexts() const;
    int progressPermille() const;
    // The failure notice shown after a pass ended `failed`, with the engine's reason; empty otherwise.
    QString failureText() const;

private:
    void refreshStatus();
    void refreshChecklist();
    void refreshProgress();

    BatchProcessor& batch_;
    ProcessingStatusManager& status_;
    QLabel* stage_;
    QLabel* message_;
    QLabel* technical_;
    QListWidget* checklist_;
    QProgressBar* progress_;
    QLabel* failure_;
    QPushButton* cancel_;
};

} // namespace orvanta
