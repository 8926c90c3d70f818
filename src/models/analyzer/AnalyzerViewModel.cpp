#include "models/analyzer/AnalyzerViewModel.h"

#include "analyzer/AudioAnalyzer.h"
#include "analyzer/TruePeakUpdate.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "models/engine/ProgressUpdater.h"

#include <QPromise>

#include <exception>
#include <memory>
#include <string>
#include <variant>

namespace orvanta {

// One analysis started by analyze(): the flag that asks its background work to stop once it has been
// superseded or its view model is gone.
struct AnalyzerViewModel::Run {
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
};

namespace {

// The outcome of a background step: its value or the failure's description.
template <typename T>
using Outcome = std::variant<T, QString>;

// An analysis with the image of its spectrogram. Move-only, so that the continuation on the main thread
// takes the result from its future rather than copying megabytes of spectrogram.
struct Analysed {
    std::unique_ptr<AudioAnalysisResult> result;
    std::shared_ptr<const SpectrogramImage> image;
};

QString describe(const std::exception& error) {
    if (const auto* orvantaError = dynamic_cast<const Error*>(&error)) {
        return QString::fromStdString(orvantaError->description());
    }
    return QString::fromLocal8Bit(error.what());
}

CancellationQuery queryOf(const std::shared_ptr<std::atomic<bool>>& cancelled) {
    return [cancelled] { return cancelled->load(std::memory_order_relaxed); };
}

} // namespace

AnalyzerViewModel::AnalyzerViewModel(QThreadPool& pool, QObject* parent) : QObject(parent), pool_(pool) {}

AnalyzerViewModel::~AnalyzerViewModel() { supersedeRun(); }

void AnalyzerViewModel::supersedeRun() {
    if (run_) {
        run_->cancelled->store(true, std::memory_order_relaxed);
        run_.reset();
    }
}

QFuture<void> AnalyzerViewModel::analyze(const std::filesystem::path& path) {
    supersedeRun();
    auto run = std::make_shared<Run>();
    run_ = run;

    setFileName(QString::fromStdString(path.filename().string()));
    setProgress(0.01);
    setState(State::analyzing());

    // Finished when the chain below ends; a chain dropped because the view model is gone cancels it
    // when the last holder of the promise goes away.
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> finished = promise->future();

    const WeakBox box{this};
    std::shared_ptr<ProgressUpdater> updater = ProgressUpdater::create(this, [box, run](double value) {
        if (box.value && box.value->isCurrent(run) && box.value->state_.kind == StateKind::analyzing) {
            box.value->setProgress(value);
        }
    });
    const CancellationQuery isCancelled = queryOf(run->cancelled);

    thenOnMainThread(runOnPool(pool_, [path, updater, isCancelled]() -> Outcome<Analysed> {
        try {
            Analysed analysed{
                std::make_unique<AudioAnalysisResult>(AudioAnalyzer::analyzeFile(path, updater->callback(), isCancelled)),
                nullptr};
            analysed.image =
                std::make_shared<const SpectrogramImage>(renderSpectrogramImage(analysed.result->spectrogramData));
            return analysed;
        } catch (const std::exception& error) {
            return describe(error);
        }
    }), this, [box, run, path, isCancelled, promise](Outcome<Analysed> outcome) {
        AnalyzerViewModel* self = box.value;
        if (self == nullptr || !self->isCurrent(run)) {
            promise->finish();
            return;
        }
        if (auto* message = std::get_if<QString>(&outcome)) {
            self->setState(State::error(*message));
            self->run_.reset();
            promise->finish();
            return;
        }
        Analysed& analysed = std::get<Analysed>(outcome);
        self->spectrogramImage_ = std::move(analysed.image);
        self->setResult(std::move(*analysed.result));
        self->setState(State::completed());

        thenOnMainThread(runOnPool(self->pool_, [path, isCancelled]() -> std::optional<AudioAnalyzer::TruePeak> {
            try {
                return AudioAnalyzer::measureTruePeak(path, isCancelled);
            } catch (const std::exception&) {
                return std::nullopt; // the result keeps its unmeasured peak
            }
        }), self, [box, run, promise](std::optional<AudioAnalyzer::TruePeak> peak) {
            AnalyzerViewModel* owner = box.value;
            if (owner != nullptr && owner->isCurrent(run)) {
                if (peak && owner->result_) {
                    // Updated in place: a copy would duplicate the spectrogram on the main thread.
                    owner->result_ = AudioAnalyzer::withTruePeak(std::move(*owner->result_), *peak);
                    emit owner->resultChanged();
                }
                owner->run_.reset();
            }
            promise->finish();
        });
    });
    return finished;
}

void AnalyzerViewModel::reset() {
    supersedeRun();
    setState(State::idle());
    setProgress(0.0);
    setFileName(QString());
    spectrogramImage_.reset();
    setResult(std::nullopt);
}

void AnalyzerViewModel::setState(State state) {
    if (state == state_ && state.errorMessage == state_.errorMessage) {
        return;
    }
    state_ = std::move(state);
    emit stateChanged();
}

void AnalyzerViewModel::setProgress(double progress) {
    if (progress == progress_) {
        return;
    }
    progress_ = progress;
    emit progressChanged();
}

void AnalyzerViewModel::setFileName(QString name) {
    if (name == fileName_) {
        return;
    }
    fileName_ = std::move(name);
    emit fileNameChanged();
}

void AnalyzerViewModel::setResult(std::optional<AudioAnalysisResult> result) {
    if (result == result_) {
        return;
    }
    result_ = std::move(result);
    emit resultChanged();
}

} // namespace orvanta
