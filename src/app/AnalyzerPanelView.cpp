#include "app/AnalyzerPanelView.h"

#include "analyzer/PerceptualScores.h"
#include "app/DropZoneWidget.h"
#include "app/SpectrogramView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

namespace orvanta {

namespace {

enum Page { idlePage, analyzingPage, resultPage, errorPage };

QString oneDecimal(double value) { return QString::asprintf("%.1f", value); }
QString wholePercent(double fraction) { return QString::number(std::lround(fraction * 100.0)) + QStringLiteral("%"); }

} // namespace

AnalyzerPanelView::AnalyzerPanelView(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks, QWidget* parent)
    : QWidget(parent),
      controller_(new AnalyzerPanelController(std::move(inputs), std::move(callbacks), this)),
      pages_(new QStackedWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, [this] { controller_->close(); });
    layout->addWidget(close, 0, Qt::AlignRight);
    layout->addWidget(pages_);

    dropZone_ = new DropZoneWidget(QStringLiteral("Drop audio file here"));
    connect(dropZone_, &DropZoneWidget::filesDropped, this, [this](const QStringList& paths) {
        const std::filesystem::path file = paths.front().toStdString();
        // The drop is handed over a moment later, as the desktop's drop animation ends.
        QTimer::singleShot(200, this, [this, file] { controller_->dropFile(file); });
    });
    pages_->addWidget(dropZone_);

    auto* analyzing = new QWidget;
    auto* analyzingLayout = new QVBoxLayout(analyzing);
    analyzingTitle_ = new QLabel(QStringLiteral("ANALYZING"));
    analyzingFile_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    analyzingLayout->addWidget(analyzingTitle_);
    analyzingLayout->addWidget(analyzingFile_);
    analyzingLayout->addWidget(progress_);
    pages_->addWidget(analyzing);

    resultPage_ = new QWidget;
    resultLayout_ = new QVBoxLayout(resultPage_);
    summary_ = new QLabel;
    summary_->setWordWrap(true);
    spectrogram_ = new SpectrogramView;
    resultLayout_->addWidget(summary_);
    resultLayout_->addWidget(spectrogram_);
    // Three controls per row, so that the panel's labels fit beside the result screen.
    std::vector<QPushButton*> controls;
    auto* before = new QPushButton(QStringLiteral("BEFORE"));
    auto* after = new QPushButton(QStringLiteral("AFTER"));
    for (auto* button : {before, after}) {
        button->setCheckable(true);
        button->setObjectName(button->text());
        controls.push_back(button);
    }
    connect(before, &QPushButton::clicked, this, [this] { controller_->setComparisonMode(ComparisonMode::before); });
    connect(after, &QPushButton::clicked, this, [this] { controller_->setComparisonMode(ComparisonMode::after); });
    connect(controller_, &AnalyzerPanelController::comparisonModeChanged, this, [this, before, after] {
        before->setChecked(controller_->comparisonMode() == ComparisonMode::before);
        after->setChecked(controller_->comparisonMode() == ComparisonMode::after);
        refresh();
    });
    if (controller_->offersRepair()) {
        auto* repair = new QPushButton(QStringLiteral("MASTERING?"));
        connect(repair, &QPushButton::clicked, this, [this] { controller_->repair(); });
        controls.push_back(repair);
    }
    if (controller_->offersPlayOriginal()) {
        auto* play = new QPushButton(QStringLiteral("Play Original"));
        connect(play, &QPushButton::clicked, this, [this] { controller_->playOriginal(); });
        controls.push_back(play);
    }
    if (controller_->offersPlayMastered()) {
        auto* play = new QPushButton(QStringLiteral("Play Mastered"));
        connect(play, &QPushButton::clicked, this, [this] { controller_->playMastered(); });
        controls.push_back(play);
    }
    auto* reset = new QPushButton(QStringLiteral("New Analysis"));
    connect(reset, &QPushButton::clicked, this, [this] { controller_->resetFromResult(); });
    controls.push_back(reset);
    auto* buttons = new QGridLayout;
    for (size_t index = 0; index < controls.size(); ++index)
        buttons->addWidget(controls[index], int(index / 3), int(index % 3));
    resultLayout_->addLayout(buttons);
    pages_->addWidget(resultPage_);

    auto* error = new QWidget;
    auto* errorLayout = new QVBoxLayout(error);
    errorLayout->addWidget(new QLabel(QStringLiteral("Error")));
    errorMessage_ = new QLabel;
    errorMessage_->setWordWrap(true);
    errorLayout->addWidget(errorMessage_);
    auto* tryAgain = new QPushButton(QStringLiteral("Try Again"));
    connect(tryAgain, &QPushButton::clicked, this, [this] { controller_->tryAgain(); });
    errorLayout->addWidget(tryAgain);
    pages_->addWidget(error);

    AnalyzerViewModel& model = controller_->viewModel();
    for (auto signal : {&AnalyzerViewModel::stateChanged, &AnalyzerViewModel::progressChanged,
                        &AnalyzerViewModel::fileNameChanged, &AnalyzerViewModel::resultChanged}) {
        connect(&model, signal, this, &AnalyzerPanelView::refresh);
    }
    connect(controller_, &AnalyzerPanelController::isAnalyzingOriginalChanged, this, &AnalyzerPanelView::refresh);
    connect(&controller_->sessionStore(), &AnalyzerSessionStore::baselineChanged, this, &AnalyzerPanelView::refresh);
    refresh();
}

void AnalyzerPanelView::start() { controller_->start(); }

QString AnalyzerPanelView::summaryText() const { return summary_->text(); }

void AnalyzerPanelView::refresh() {
    const AnalyzerViewModel& model = controller_->viewModel();
    if (controller_->isAnalyzingOriginal()) {
        pages_->setCurrentIndex(analyzingPage);
        analyzingTitle_->setText(QStringLiteral("Analyzing original..."));
        analyzingFile_->setText(QString());
        progress_->setValue(static_cast<int>(controller_->displayedProgress() * 1000));
        return;
    }
    switch (model.state().kind) {
    case AnalyzerViewModel::StateKind::idle:
        pages_->setCurrentIndex(idlePage);
        break;
    case AnalyzerViewModel::StateKind::analyzing:
        pages_->setCurrentIndex(analyzingPage);
        analyzingTitle_->setText(QStringLiteral("ANALYZING"));
        analyzingFile_->setText(model.fileName());
        progress_->setValue(static_cast<int>(std::clamp(model.progress(), 0.0, 1.0) * 1000));
        break;
    case AnalyzerViewModel::StateKind::completed:
        pages_->setCurrentIndex(resultPage);
        rebuildResult();
        break;
    case AnalyzerViewModel::StateKind::error:
        pages_->setCurrentIndex(errorPage);
        errorMessage_->setText(model.state().errorMessage);
        break;
    }
}

void AnalyzerPanelView::rebuildResult() {
    const auto& shown = controller_->displayedResult();
    if (!shown) {
        summary_->setText(QString());
        spectrogram_->setData(SpectrogramData::empty());
        return;
    }
    const AudioAnalysisResult& r = *shown;
    const auto& d = r.analysisDetails;
    const auto& baseline = controller_->sessionStore().baseline();
    auto bar = [&](const char* label, double value, double baselineValue) {
        QString line = QStringLiteral("%1 %2").arg(QString::fromUtf8(label), wholePercent(value));
        if (baseline) {
            line += QStringLiteral(" (%1)").arg(wholePercent(baselineValue));
        }
        return line;
    };
    const AudioAnalysisResult* b = baseline ? &*baseline : nullptr;
    QStringList lines = {
        QString::number(std::lround(r.overallScore)),
        QString::fromStdString(AudioAnalyzer::verdictLabel(r.overallScore)),
        QString::fromStdString(AudioAnalyzer::verdictSentence(r.overallScore)),
        QStringLiteral("Laptop %1").arg(wholePercent(r.macBookScore)),
        QStringLiteral("PA System %1").arg(wholePercent(r.paSystemScore)),
        QStringLiteral("Best for: ") + QString::fromStdString(d.recommendedUseCase),
        QStringLiteral("LUFS %1").arg(oneDecimal(d.lufsIntegrated)),
        QStringLiteral("TRUE PEAK %1").arg(oneDecimal(d.truePeakDB)),
        QStringLiteral("SHORT TERM %1").arg(oneDecimal(d.lufsShortTermMax)),
        bar("Warmth", r.warmth, b ? b->warmth : 0),
        bar("Clarity", r.clarity, b ? b->clarity : 0),
        bar("Dynamics", r.dynamics, b ? b->dynamics : 0),
        bar("Space", r.spaciousness, b ? b->spaciousness : 0),
        bar("Mid", d.midEnergyRatio, b ? b->analysisDetails.midEnergyRatio : 0),
        bar("Side", d.sideEnergyRatio, b ? b->analysisDetails.sideEnergyRatio : 0),
    };
    summary_->setText(lines.join(QLatin1Char('\n')));
    spectrogram_->setData(r.spectrogramData);
}

} // namespace orvanta
