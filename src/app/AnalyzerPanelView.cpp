#include "app/AnalyzerPanelView.h"

#include "analyzer/PerceptualScores.h"
#include "app/DropZoneWidget.h"
#include "app/EqCurveView.h"
#include "app/LoudnessToolTip.h"
#include "app/MeterBar.h"
#include "app/ScoreRing.h"
#include "app/ThemeColors.h"
#include "app/SpectrogramView.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
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

// The verdict's colour: the theme's error, warning, info and success colours from "Poor" up.
QColor verdictColour(const Theme& theme, double score) {
    if (score < 40) return themeColor(theme.error);
    if (score < 60) return themeColor(theme.warning);
    if (score < 75) return themeColor(theme.info);
    return themeColor(theme.success);
}

const char* const scoreBarLabels[] = {"Warmth", "Clarity", "Dynamics", "Space", "Mid", "Side"};

} // namespace

AnalyzerPanelView::AnalyzerPanelView(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks, QThreadPool& pool,
                                     QWidget* parent)
    : ThemedWidget(parent),
      controller_(new AnalyzerPanelController(std::move(inputs), std::move(callbacks), pool, this)),
      pages_(new QStackedWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, [this] { controller_->close(); });
    layout->addWidget(close, 0, Qt::AlignRight);
    layout->addWidget(pages_);

    pages_->addWidget(makeDropPage());
    pages_->addWidget(makeAnalyzingPage());
    pages_->addWidget(makeResultPage(pool));
    pages_->addWidget(makeErrorPage());
    connectModel();
    applyColours();
    refresh();
}

QWidget* AnalyzerPanelView::makeDropPage() {
    dropZone_ = new DropZoneWidget(QStringLiteral("Drop audio file here"));
    connect(dropZone_, &DropZoneWidget::filesDropped, this, [this](const QStringList& paths) {
        const std::filesystem::path file = paths.front().toStdString();
        // The drop is handed over a moment later, as the desktop's drop animation ends.
        QTimer::singleShot(200, this, [this, file] { controller_->dropFile(file); });
    });
    return dropZone_;
}

QWidget* AnalyzerPanelView::makeAnalyzingPage() {
    auto* analyzing = new QWidget;
    auto* analyzingLayout = new QVBoxLayout(analyzing);
    analyzingTitle_ = new QLabel(QStringLiteral("ANALYZING"));
    analyzingFile_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setAccessibleName(QStringLiteral("Analysis progress"));
    // Title, file and bar together in the middle of the panel.
    analyzingLayout->addStretch();
    analyzingLayout->addWidget(analyzingTitle_);
    analyzingLayout->addWidget(analyzingFile_);
    analyzingLayout->addWidget(progress_);
    analyzingLayout->addStretch();
    return analyzing;
}

// Score ring beside the verdict and the two device bars.
QLayout* AnalyzerPanelView::makeVerdictHead() {
    auto* head = new QHBoxLayout;
    ring_ = new ScoreRing;
    head->addWidget(ring_, 0, Qt::AlignTop);
    auto* verdictColumn = new QVBoxLayout;
    verdict_ = new QLabel;
    verdict_->setObjectName(QStringLiteral("verdict"));
    QFont verdictFont = verdict_->font();
    verdictFont.setPixelSize(20);
    verdictFont.setBold(true);
    verdict_->setFont(verdictFont);
    sentence_ = new QLabel;
    sentence_->setWordWrap(true);
    verdictColumn->addWidget(verdict_);
    verdictColumn->addWidget(sentence_);
    for (const char* device : {"Laptop", "PA System"}) {
        auto* meter = new MeterBar(QString::fromUtf8(device));
        bars_.append(meter);
        verdictColumn->addWidget(meter);
    }
    verdictColumn->addStretch();
    head->addLayout(verdictColumn, 1);
    return head;
}

// The comparison, repair, playback and reset buttons, three per row, so that the panel's labels fit
// beside the result screen.
QLayout* AnalyzerPanelView::makeResultControls() {
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
    return buttons;
}

// The scores, figures and spectrogram of a result, with its controls, in a scroll area.
QWidget* AnalyzerPanelView::makeResultPage(QThreadPool& pool) {
    resultPage_ = new QWidget;
    resultLayout_ = new QVBoxLayout(resultPage_);
    resultLayout_->setSpacing(8);
    // Only room for the scroll bar at the right: the panel is narrow beside the result screen.
    resultLayout_->setContentsMargins(0, 0, 10, 0);

    resultLayout_->addLayout(makeVerdictHead());

    bestFor_ = new QLabel;
    QFont bold = bestFor_->font();
    bold.setBold(true);
    bestFor_->setFont(bold);
    bestFor_->setWordWrap(true);
    resultLayout_->addWidget(bestFor_);
    note_ = new QLabel;
    note_->setObjectName(QStringLiteral("technicalLine"));
    note_->setWordWrap(true);
    resultLayout_->addWidget(note_);

    auto* tiles = new QHBoxLayout;
    tiles->addWidget(makeTile(QStringLiteral("LUFS"), QStringLiteral("LUFS")));
    tiles->addWidget(makeTile(QStringLiteral("TRUE PEAK"), QStringLiteral("dBTP")));
    tiles->addWidget(makeTile(QStringLiteral("SHORT TERM"), QStringLiteral("LUFS")));
    resultLayout_->addLayout(tiles);

    auto* scores = new QVBoxLayout;
    scores->setSpacing(2);
    for (const char* label : scoreBarLabels) {
        auto* meter = new MeterBar(QString::fromUtf8(label));
        bars_.append(meter);
        scores->addWidget(meter);
    }
    resultLayout_->addLayout(scores);

    spectrogram_ = new SpectrogramView(pool);
    resultLayout_->addWidget(spectrogram_);
    if (controller_->offersRepair()) {
        repairCurve_ = new EqCurveView(QStringLiteral("Repair EQ"));
        repairCurve_->setVisible(false);
        resultLayout_->addWidget(repairCurve_);
        connect(controller_, &AnalyzerPanelController::repairPreviewChanged, this, &AnalyzerPanelView::refreshRepairCurve);
    }
    resultLayout_->addLayout(makeResultControls());
    resultLayout_->addStretch();
    // A short window scrolls the result rather than squeezing it.
    auto* scroller = new QScrollArea;
    scroller->setWidget(resultPage_);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->viewport()->setAutoFillBackground(false);
    resultPage_->setAutoFillBackground(false);
    return scroller;
}

QWidget* AnalyzerPanelView::makeErrorPage() {
    auto* error = new QWidget;
    auto* errorLayout = new QVBoxLayout(error);
    errorLayout->addWidget(new QLabel(QStringLiteral("Error")));
    errorMessage_ = new QLabel;
    errorMessage_->setWordWrap(true);
    errorLayout->addWidget(errorMessage_);
    auto* tryAgain = new QPushButton(QStringLiteral("Try Again"));
    connect(tryAgain, &QPushButton::clicked, this, [this] { controller_->tryAgain(); });
    errorLayout->addWidget(tryAgain);
    return error;
}

void AnalyzerPanelView::connectModel() {
    AnalyzerViewModel& model = controller_->viewModel();
    // Progress only moves the bar: the result is rebuilt when the state, the result or the baseline change.
    for (auto signal : {&AnalyzerViewModel::stateChanged, &AnalyzerViewModel::resultChanged}) {
        connect(&model, signal, this, &AnalyzerPanelView::refresh);
    }
    for (auto signal : {&AnalyzerViewModel::progressChanged, &AnalyzerViewModel::fileNameChanged}) {
        connect(&model, signal, this, &AnalyzerPanelView::refreshProgress);
    }
    connect(controller_, &AnalyzerPanelController::isAnalyzingOriginalChanged, this, &AnalyzerPanelView::refresh);
    connect(&controller_->sessionStore(), &AnalyzerSessionStore::baselineChanged, this, &AnalyzerPanelView::refresh);
}

QWidget* AnalyzerPanelView::makeTile(const QString& caption, const QString& unit) {
    auto* tile = new QGroupBox;
    tile->setObjectName(QStringLiteral("tile"));
    auto* layout = new QVBoxLayout(tile);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    auto* title = new QLabel(caption);
    title->setObjectName(QStringLiteral("technicalLine"));
    auto* value = new QLabel;
    value->setObjectName(caption);
    QFont font = value->font();
    font.setPixelSize(18);
    font.setBold(true);
    value->setFont(font);
    auto* units = new QLabel(unit);
    units->setObjectName(QStringLiteral("technicalLine"));
    layout->addWidget(title);
    layout->addWidget(value);
    layout->addWidget(units);
    tile->setAccessibleName(caption);
    if (unit == QStringLiteral("LUFS")) tile->setToolTip(loudnessToolTip());
    tileValues_.append(value);
    return tile;
}

void AnalyzerPanelView::themeChanged() {
    dropZone_->setTheme(theme());
    spectrogram_->setTheme(theme());
    applyColours();
    refresh();
}

void AnalyzerPanelView::applyColours() {
    const QColor text = themeColor(theme().textPrimary);
    const QColor track = themeColor(theme().elementBackground);
    ring_->setColours(track, text);
    if (repairCurve_) repairCurve_->setColours(themeColor(theme().accent), text, track);
    for (MeterBar* meter : bars_) {
        const bool device = meter->label() == QStringLiteral("Laptop") || meter->label() == QStringLiteral("PA System");
        meter->setColours(themeColor(device ? theme().info : theme().primary), track, text, text);
    }
}

MeterBar* AnalyzerPanelView::bar(const QString& label) const {
    for (MeterBar* meter : bars_)
        if (meter->label() == label) return meter;
    return nullptr;
}

QString AnalyzerPanelView::tileText(const QString& caption) const {
    for (QLabel* value : tileValues_)
        if (value->objectName() == caption) return value->text();
    return {};
}

void AnalyzerPanelView::start() { controller_->start(); }

QString AnalyzerPanelView::summaryText() const { return summary_; }

void AnalyzerPanelView::refreshProgress() {
    const AnalyzerViewModel& model = controller_->viewModel();
    if (controller_->isAnalyzingOriginal() || model.state().kind != AnalyzerViewModel::StateKind::analyzing) return;
    analyzingFile_->setText(model.fileName());
    progress_->setValue(static_cast<int>(std::clamp(model.progress(), 0.0, 1.0) * 1000));
}

void AnalyzerPanelView::refreshRepairCurve() {
    if (!repairCurve_) return;
    repairCurve_->setSettings(controller_->repairPreviewEQ());
    repairCurve_->setVisible(controller_->repairPreviewEQ().has_value());
}

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
        summary_.clear();
        spectrogram_->setData(SpectrogramData::empty());
        return;
    }
    const AudioAnalysisResult& r = *shown;
    const auto& d = r.analysisDetails;
    const auto& baseline = controller_->sessionStore().baseline();
    const AudioAnalysisResult* b = baseline ? &*baseline : nullptr;

    const QString label = QString::fromStdString(AudioAnalyzer::verdictLabel(r.overallScore));
    const QString sentence = QString::fromStdString(AudioAnalyzer::verdictSentence(r.overallScore));
    const QColor colour = verdictColour(theme(), r.overallScore);
    ring_->setScore(r.overallScore, colour);
    verdict_->setText(label);
    verdict_->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
    sentence_->setText(sentence);
    bar(QStringLiteral("Laptop"))->setValue(r.macBookScore);
    bar(QStringLiteral("PA System"))->setValue(r.paSystemScore);
    bestFor_->setText(QStringLiteral("Best for: ") + QString::fromStdString(d.recommendedUseCase));
    note_->setText(QString::fromStdString(d.recommendationNote));
    note_->setVisible(!d.recommendationNote.empty());
    const double figures[] = {d.lufsIntegrated, d.truePeakDB, d.lufsShortTermMax};
    for (int tile = 0; tile < 3; ++tile) tileValues_[tile]->setText(oneDecimal(figures[tile]));

    const double values[] = {r.warmth, r.clarity, r.dynamics, r.spaciousness, d.midEnergyRatio, d.sideEnergyRatio};
    const double baselines[] = {b ? b->warmth : 0,
                                b ? b->clarity : 0,
                                b ? b->dynamics : 0,
                                b ? b->spaciousness : 0,
                                b ? b->analysisDetails.midEnergyRatio : 0,
                                b ? b->analysisDetails.sideEnergyRatio : 0};
    QStringList scoreLines;
    for (int index = 0; index < 6; ++index) {
        MeterBar* meter = bar(QString::fromUtf8(scoreBarLabels[index]));
        meter->setValue(values[index], b ? std::optional<double>(baselines[index]) : std::nullopt);
        scoreLines << meter->label() + QLatin1Char(' ') + meter->valueText();
    }

    QStringList lines = {
        ring_->scoreText(),
        label,
        sentence,
        QStringLiteral("Laptop %1").arg(wholePercent(r.macBookScore)),
        QStringLiteral("PA System %1").arg(wholePercent(r.paSystemScore)),
        bestFor_->text(),
        QStringLiteral("LUFS %1").arg(oneDecimal(d.lufsIntegrated)),
        QStringLiteral("TRUE PEAK %1").arg(oneDecimal(d.truePeakDB)),
        QStringLiteral("SHORT TERM %1").arg(oneDecimal(d.lufsShortTermMax)),
    };
    summary_ = (lines + scoreLines).join(QLatin1Char('\n'));
    // The current result's image was rendered with the analysis; a baseline's is rendered here, off the
    // main thread.
    const AnalyzerViewModel& model = controller_->viewModel();
    if (&shown == &model.result() && model.spectrogramImage()) {
        spectrogram_->setImage(r.spectrogramData, model.spectrogramImage());
    } else {
        spectrogram_->setData(r.spectrogramData);
    }
}

} // namespace orvanta
