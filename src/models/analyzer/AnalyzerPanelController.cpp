#include "models/analyzer/AnalyzerPanelController.h"

#include "analyzer/CorrectionPlan.h"
#include "analyzer/TruePeakUpdate.h"
#include "eq/ReferenceSpectrum.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"

#include <QPointer>

#include <exception>

namespace orvanta {

namespace {

// Below this a result's true peak is still the unmeasured −120 dBFS.
constexpr double knownTruePeakThresholdDB = -100.0;

} // namespace

AnalyzerPanelController::AnalyzerPanelController(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks,
                                                 QThreadPool& pool, QObject* parent)
    : QObject(parent),
      inputs_(std::move(inputs)),
      callbacks_(std::move(callbacks)),
      pool_(pool),
      viewModel_(new AnalyzerViewModel(pool, this)),
      sessionStore_(new AnalyzerSessionStore(this)),
      baselineCancelled_(std::make_shared<std::atomic<bool>>(false)) {
    connect(viewModel_, &AnalyzerViewModel::stateChanged, this, &AnalyzerPanelController::onStateChanged);
    connect(viewModel_, &AnalyzerViewModel::resultChanged, this, &AnalyzerPanelController::onResultChanged);
}

AnalyzerPanelController::~AnalyzerPanelController() { baselineCancelled_->store(true, std::memory_order_relaxed); }

void AnalyzerPanelController::start() {
    if (viewModel_->state().kind != AnalyzerViewModel::StateKind::idle || !inputs_.initialURL) {
        return;
    }
    if (!inputs_.isMastered) {
        sessionStore_->clearBaseline();
        setPendingURL(*inputs_.initialURL);
    } else if (sessionStore_->hasBaseline() || !inputs_.originalURL) {
        setPendingURL(*inputs_.initialURL);
    } else {
        setIsAnalyzingOriginal(true);
        startBaselineTask(*inputs_.originalURL);
    }
}

void AnalyzerPanelController::changeInitialURL(const std::filesystem::path& url) {
    if (viewModel_->state().kind != AnalyzerViewModel::StateKind::idle) {
        return;
    }
    if (!inputs_.isMastered) {
        sessionStore_->clearBaseline();
    }
    setPendingURL(url);
}

void AnalyzerPanelController::dropFile(const std::filesystem::path& url) {
    if (!inputs_.isMastered) {
        sessionStore_->clearBaseline();
    }
    setPendingURL(url);
}

void AnalyzerPanelController::resetFromResult() {
    sessionStore_->clearBaseline();
    viewModel_->reset();
}

void AnalyzerPanelController::tryAgain() { viewModel_->reset(); }

void AnalyzerPanelController::repair() {
    if (callbacks_.onRepair) {
        callbacks_.onRepair();
    }
}

void AnalyzerPanelController::close() {
    if (callbacks_.onClose) {
        callbacks_.onClose();
    }
}

void AnalyzerPanelController::playOriginal() {
    if (callbacks_.onPlayOriginal) {
        callbacks_.onPlayOriginal();
    }
}

void AnalyzerPanelController::playMastered() {
    if (callbacks_.onPlayMastered) {
        callbacks_.onPlayMastered();
    }
}

void AnalyzerPanelController::setComparisonMode(ComparisonMode mode) {
    if (mode == comparisonMode_) {
        return;
    }
    comparisonMode_ = mode;
    emit comparisonModeChanged();
}

QString AnalyzerPanelController::comparisonModeRaw() const {
    const std::string_view raw = rawValue(comparisonMode_);
    return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size()));
}

double AnalyzerPanelController::displayedProgress() const {
    return isAnalyzingOriginal_ ? 0.5 : viewModel_->progress();
}

bool AnalyzerPanelController::showsComparison() const { return inputs_.isMastered && sessionStore_->hasBaseline(); }

const std::optional<AudioAnalysisResult>& AnalyzerPanelController::displayedResult() const {
    if (showsComparison() && comparisonMode_ == ComparisonMode::before) {
        return sessionStore_->baseline();
    }
    return viewModel_->result();
}

// A pending file is taken up at once: it becomes the reported file and is analysed.
void AnalyzerPanelController::setPendingURL(const std::filesystem::path& url) {
    pendingURL_ = url;
    pendingURL_.reset();
    lastURL_ = url;
    didReport_ = false;
    viewModel_->analyze(url);
}

void AnalyzerPanelController::setIsAnalyzingOriginal(bool analyzing) {
    if (analyzing == isAnalyzingOriginal_) {
        return;
    }
    isAnalyzingOriginal_ = analyzing;
    emit isAnalyzingOriginalChanged();
}

void AnalyzerPanelController::startBaselineTask(const std::filesystem::path& originalURL) {
    const std::shared_ptr<std::atomic<bool>> cancelled = baselineCancelled_;
    // A unique pointer: the continuation takes it from the future instead of copying the spectrogram.
    thenOnMainThread(runOnPool(pool_, [originalURL, cancelled]() -> std::unique_ptr<AudioAnalysisResult> {
        try {
            return std::make_unique<AudioAnalysisResult>(AudioAnalyzer::analyzeFileWithPeak(
                originalURL, {}, [cancelled] { return cancelled->load(std::memory_order_relaxed); }));
        } catch (const std::exception&) {
            return nullptr; // the mastered file is analysed without a baseline
        }
    }), this, [self = QPointer<AnalyzerPanelController>(this)](std::unique_ptr<AudioAnalysisResult> baseline) {
        if (!self) {
            return;
        }
        if (baseline) {
            self->sessionStore_->setBaseline(std::move(*baseline));
        }
        self->setIsAnalyzingOriginal(false);
        if (self->inputs_.initialURL) {
            self->setPendingURL(*self->inputs_.initialURL);
        }
        emit self->baselineTaskFinished();
    });
}

void AnalyzerPanelController::onStateChanged() {
    const auto& result = viewModel_->result();
    if (viewModel_->state().kind != AnalyzerViewModel::StateKind::completed || !result || !lastURL_ || didReport_) {
        return;
    }
    didReport_ = true;
    if (!inputs_.isMastered && !sessionStore_->hasBaseline()) {
        sessionStore_->setBaseline(result);
    }
    if (inputs_.canRepair) startRepairPreview(*lastURL_, *result);
    if (callbacks_.onAnalysisCompleted) {
        const std::filesystem::path url = *lastURL_;
        AudioAnalysisResult reported = *result; // the callback may start something that changes result
        callbacks_.onAnalysisCompleted(url, std::move(reported));
    }
}

void AnalyzerPanelController::startRepairPreview(const std::filesystem::path& url, const AudioAnalysisResult& result) {
    const int run = ++repairPreviewRun_;
    if (repairPreviewEQ_) {
        repairPreviewEQ_.reset();
        emit repairPreviewChanged();
    }
    // The plan reads the scores and figures only: the spectrogram is left behind.
    AudioAnalysisResult figures;
    figures.overallScore = result.overallScore;
    figures.warmth = result.warmth;
    figures.clarity = result.clarity;
    figures.dynamics = result.dynamics;
    figures.spaciousness = result.spaciousness;
    figures.macBookScore = result.macBookScore;
    figures.paSystemScore = result.paSystemScore;
    figures.analysisDetails = result.analysisDetails;
    thenOnMainThread(runOnPool(pool_, [url, figures]() -> std::optional<EQSettings> {
        try {
            const BandLevels levels = compute12BandSpectrum(url);
            const auto& details = figures.analysisDetails;
            // The curve does not depend on the target: the default one stands in for the stored one.
            return makePlan(figures, std::vector<float>(levels.begin(), levels.end()), float(details.lufsIntegrated),
                            float(details.peakLevel), float(details.rmsLevel), planDefaultTargetLUFS)
                .eqSettings;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }), this, [self = QPointer<AnalyzerPanelController>(this), run](std::optional<EQSettings> eq) {
        if (!self || run != self->repairPreviewRun_ || !eq) return;
        self->repairPreviewEQ_ = std::move(eq);
        emit self->repairPreviewChanged();
    });
}

void AnalyzerPanelController::onResultChanged() {
    const auto& result = viewModel_->result();
    const double truePeakDB = result ? result->analysisDetails.truePeakDB : -120.0;
    if (truePeakDB == lastSeenTruePeakDB_) {
        return;
    }
    lastSeenTruePeakDB_ = truePeakDB;
    if (truePeakDB > knownTruePeakThresholdDB && !inputs_.isMastered) {
        sessionStore_->setBaseline(result);
    }
}

} // namespace orvanta
