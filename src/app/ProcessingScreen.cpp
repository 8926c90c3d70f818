#include "app/ProcessingScreen.h"

#include "models/app/MainWindowModel.h"
#include "models/app/QtText.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/ProcessingStatusManager.h"
#include "platform/Error.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace orvanta {

ProcessingScreen::ProcessingScreen(MainWindowModel& model, BatchProcessor& batch, ProcessingStatusManager& status,
                                   QWidget* parent)
    : QWidget(parent), batch_(batch), status_(status) {
    // One card in the middle of the screen, as wide as reads well, as tall as its checklist.
    auto* outer = new QVBoxLayout(this);
    auto* card = new QGroupBox;
    card->setObjectName(QStringLiteral("card"));
    card->setMaximumWidth(860);
    auto* layout = new QVBoxLayout(card);
    layout->setSpacing(8);
    step_ = new QLabel;
    step_->setObjectName(QStringLiteral("technicalLine"));
    layout->addWidget(step_);
    stage_ = new QLabel;
    stage_->setObjectName(QStringLiteral("screenTitle"));
    stage_->setWordWrap(true);
    layout->addWidget(stage_);
    message_ = new QLabel;
    message_->setWordWrap(true);
    layout->addWidget(message_);
    technical_ = new QLabel;
    technical_->setObjectName(QStringLiteral("technicalLine"));
    technical_->setWordWrap(true);
    technical_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(technical_);

    layout->addLayout(makeProgressRow());

    layout->addWidget(makeChecklist(), 1);

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
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addWidget(card, 100);
    centred->addStretch(1);
    outer->addStretch(1);
    outer->addLayout(centred);
    outer->addStretch(1);

    elapsedTicks_.setInterval(1000);
    connect(&elapsedTicks_, &QTimer::timeout, this, &ProcessingScreen::refreshElapsed);

    connectModels();
    refreshStatus();
    refreshChecklist();
    refreshProgress();
    refreshElapsed();
}

// The bar, the percentage and the time the pass has taken.
QLayout* ProcessingScreen::makeProgressRow() {
    auto* progressRow = new QHBoxLayout;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setAccessibleName(QStringLiteral("Progress"));
    progressRow->addWidget(progress_, 1);
    percent_ = new QLabel;
    percent_->setMinimumWidth(44);
    percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progressRow->addWidget(percent_);
    elapsed_ = new QLabel;
    elapsed_->setObjectName(QStringLiteral("technicalLine"));
    elapsed_->setMinimumWidth(110);
    elapsed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progressRow->addWidget(elapsed_);
    return progressRow;
}

// The run's steps with their values, read-only and without selection.
QTableWidget* ProcessingScreen::makeChecklist() {
    checklist_ = new QTableWidget(0, 3);
    checklist_->setObjectName(QStringLiteral("checklist"));
    checklist_->setAccessibleName(QStringLiteral("Processing checklist"));
    checklist_->setHorizontalHeaderLabels({QString(), QStringLiteral("Step"), QStringLiteral("Value")});
    checklist_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    checklist_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    checklist_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    checklist_->horizontalHeader()->setHighlightSections(false);
    checklist_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    checklist_->verticalHeader()->setVisible(false);
    checklist_->verticalHeader()->setDefaultSectionSize(28);
    checklist_->setShowGrid(false);
    checklist_->setSelectionMode(QAbstractItemView::NoSelection);
    checklist_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    checklist_->setFocusPolicy(Qt::NoFocus);
    // Room for the ten items of a full run without scrolling.
    checklist_->setMinimumHeight(32 + 10 * 28);
    return checklist_;
}

void ProcessingScreen::connectModels() {
    connect(&status_, &ProcessingStatusManager::currentStageChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::detailedMessageChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::technicalInfoChanged, this, &ProcessingScreen::refreshStatus);
    connect(&status_, &ProcessingStatusManager::checklistItemsChanged, this, &ProcessingScreen::refreshChecklist);
    connect(&batch_, &BatchProcessor::progressChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::currentFileChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::isProcessingChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::lastErrorChanged, this, &ProcessingScreen::refreshProgress);
    connect(&batch_, &BatchProcessor::isProcessingChanged, this, [this] {
        // The clock runs for the whole pass, from its first progress to its end.
        if (batch_.isProcessing()) {
            runClock_.start();
            elapsedTicks_.start();
        } else {
            elapsedTicks_.stop();
        }
        refreshElapsed();
    });
}

QString ProcessingScreen::stageText() const { return stage_->text(); }

QStringList ProcessingScreen::checklistTexts() const {
    QStringList texts;
    for (int row = 0; row < checklist_->rowCount(); ++row) {
        QString text = checklist_->item(row, 1)->text();
        if (!checklist_->item(row, 2)->text().isEmpty()) text += QStringLiteral("   ") + checklist_->item(row, 2)->text();
        texts << text;
    }
    return texts;
}

int ProcessingScreen::highlightedRow() const {
    const QList<ProcessingChecklistItem> items = status_.checklistItems();
    for (int row = 0; row < items.size(); ++row)
        if (items[row].isHighlighted) return row;
    return -1;
}

QString ProcessingScreen::stepText() const { return step_->text(); }
QString ProcessingScreen::elapsedText() const { return elapsed_->text(); }

void ProcessingScreen::refreshElapsed() {
    const qint64 seconds = runClock_.isValid() ? runClock_.elapsed() / 1000 : 0;
    elapsed_->setText(QString::asprintf("Elapsed %lld:%02lld", seconds / 60, seconds % 60));
}

int ProcessingScreen::progressPermille() const { return progress_->value(); }

void ProcessingScreen::refreshStatus() {
    const ProcessingStage stage = status_.currentStage();
    // "complete" closes the run rather than being a step of its own.
    const int steps = int(allProcessingStages.size()) - 1;
    const int step = std::min(int(stage) + 1, steps);
    step_->setText(QStringLiteral("Step %1 of %2").arg(step).arg(steps));
    stage_->setText(qtText(rawValue(stage)));
    message_->setText(status_.detailedMessage());
    technical_->setText(status_.technicalInfo());
}

void ProcessingScreen::refreshChecklist() {
    const QList<ProcessingChecklistItem> items = status_.checklistItems();
    checklist_->setRowCount(int(items.size()));
    const QColor pending = palette().color(QPalette::PlaceholderText);
    for (int row = 0; row < items.size(); ++row) {
        const ProcessingChecklistItem& item = items[row];
        auto* state = new QTableWidgetItem(item.isCompleted ? QStringLiteral("\u2713") : QStringLiteral("\u2026"));
        state->setTextAlignment(Qt::AlignCenter);
        state->setData(Qt::AccessibleTextRole, item.isCompleted ? QStringLiteral("done") : QStringLiteral("pending"));
        auto* title = new QTableWidgetItem(item.title);
        auto* value = new QTableWidgetItem(item.value);
        value->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        for (QTableWidgetItem* cell : {state, title, value}) {
            QFont font = checklist_->font();
            font.setBold(item.isHighlighted);
            if (item.isHighlighted) font.setPointSizeF(font.pointSizeF() * 1.1);
            cell->setFont(font);
            if (!item.isCompleted) cell->setForeground(pending);
        }
        if (item.isHighlighted) {
            // The highlighted figure stands out on a tinted row.
            QColor tint = palette().color(QPalette::Highlight);
            tint.setAlpha(60);
            for (QTableWidgetItem* cell : {state, title, value}) cell->setBackground(tint);
        }
        checklist_->setItem(row, 0, state);
        checklist_->setItem(row, 1, title);
        checklist_->setItem(row, 2, value);
    }
}

void ProcessingScreen::refreshProgress() {
    progress_->setValue(int(batch_.progress() * 1000.0 + 0.5));
    percent_->setText(QString::number(int(batch_.progress() * 100.0)) + QStringLiteral(" %"));
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
