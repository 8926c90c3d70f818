#include "app/ProcessingScreen.h"

#include "app/MainWindowModel.h"
#include "app/QtText.h"
#include "batch/BatchProcessor.h"
#include "engine/ProcessingStatusManager.h"
#include "platform/Error.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvanta {

ProcessingScreen::ProcessingScreen(MainWindowModel& model, BatchProcessor& batch, ProcessingStatusManager& status,
                                   QWidget* parent)
    : QWidget(parent), batch_(batch), status_(status) {
    auto* layout = new QVBoxLayout(this);
    stage_ = new QLabel;
    stage_->setObjectName(QStringLiteral("screenTitle"));
    layout->addWidget(stage_);
    message_ = new QLabel;
    message_->setWordWrap(true);
    layout->addWidget(message_);
    technical_ = new QLabel;
    technical_->setObjectName(QStringLiteral("technicalLine"));
    technical_->setWordWrap(true);
    technical_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(technical_);

    checklist_ = new QListWidget;
    checklist_->setSelectionMode(QAbstractItemView::NoSelection);
    checklist_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(checklist_, 1);

    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);
    failure_ = new QLabel;
    failure_->setWordWrap(true);
    failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failure_->setVisible(false);
    layout->addWidget(failure_);

    auto* controls = new QHBoxLayout;
    controls->addStretch();
    cancel_ = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel_, &QPushButton::clicked, &model, &MainWindowModel::requestCancel);
    controls->addWidget(cancel_);
    layout->addLayout(controls);

    connect(&status_, &ProcessingStatusManager::currentStageChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::detailedMessageChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::technicalInfoChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::checklistItemsChanged, this, &ProcessingScreen::refreshChecklist);
    connect(&batch_, &BatchProcessor::progressChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::currentFileChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::isProcessingChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::lastErrorChanged, this, &ProcessingScreen::refreshProgress);
    refreshStatus();
    refreshChecklist();
    refreshProgress();
}

QString ProcessingScreen::stageText() const { return stage_->text(); }

QStringList ProcessingScreen::checklistTexts() const {
    QStringList texts;
    for (int row = 0; row < checklist_->count(); ++row) texts << checklist_->item(row)->text();
    return texts;
}

int ProcessingScreen::progressPermille() const { return progress_->value(); }

void ProcessingScreen::refreshStatus() {
    const std::string_view stage = rawValue(status_.currentStage());
    stage_->setText(qtText(stage));
    message_->setText(status_.detailedMessage());
    technical_->setText(status_.technicalInfo());
}

void ProcessingScreen::refreshChecklist() {
    const QList<ProcessingChecklistItem> items = status_.checklistItems();
    checklist_->clear();
    for (const ProcessingChecklistItem& item : items) {
        QString text = (item.isCompleted ? QStringLiteral("\u2713  ") : QStringLiteral("\u2022  ")) + item.title;
        if (!item.value.isEmpty()) text += QStringLiteral("   ") + item.value;
        auto* row = new QListWidgetItem(text, checklist_);
        QFont font = row->font();
        font.setBold(item.isHighlighted);
        row->setFont(font);
        if (!item.isCompleted) row->setForeground(palette().color(QPalette::PlaceholderText));
    }
}

void ProcessingScreen::refreshProgress() {
    progress_->setValue(int(batch_.progress() * 1000.0 + 0.5));
    const auto& file = batch_.currentFile();
    const bool failed = file && file->processingStatus == AudioFile::ProcessingStatus::failed;
    failure_->setVisible(failed);
    if (!failed) return;
    // The engine's own account of what went wrong ("No space left on device"), then the way out.
    QString text = QStringLiteral("Processing did not complete.");
    if (const auto& error = batch_.lastError()) text += QStringLiteral(" ") + QString::fromStdString(describeForUser(*error));
    failure_->setText(text + QStringLiteral("\nCancel to start over with another file."));
}

QString ProcessingScreen::failureText() const { return failure_->isVisibleTo(this) ? failure_->text() : QString(); }

} // namespace orvanta
