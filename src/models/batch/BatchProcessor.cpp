#include "models/batch/BatchProcessor.h"

#include "batch/MasterFile.h"

#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "eq/ReferenceSpectrum.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "models/engine/ProcessingStatusManager.h"
#include "models/engine/ProgressUpdater.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceStore.h"

#include <QPointer>
#include <QTimer>

#include <iostream>

namespace orvanta {

namespace fs = std::filesystem;

// What a pass's engine work ended with.
struct BatchProcessor::PassOutcome {
    std::optional<BatchPassRecord> record; // none when the pass failed or was cancelled
    std::optional<Error> error;            // why it failed
};

// What the engine work of a pass reads, taken on the main thread when the pass starts.
struct BatchProcessor::PassContext {
    ExportFormat format = ExportFormat::wav;
    std::optional<int> sampleRate; // Hz; the song's own when none
    DitherShape dither = DitherShape::flat;
    bool usableReference = false;
    BandLevels referenceLevels{};
    std::optional<TonalBalance> referenceBalance; // none for a profile stored before it was measured
    float matchStrength = 0.0f; // percent
};

BatchProcessor::BatchProcessor(PreferenceStore& store, ProcessingStatusManager& status,
                               ReferenceTrackManager& reference, EQManager& eq, QThreadPool& pool,
                               QObject* parent)
    : QObject(parent), store_(store), status_(status), reference_(reference), eq_(eq), pool_(pool) {}

BatchProcessor::~BatchProcessor() {
    {
        std::lock_guard lock(cancellationLock);
        isCancelled = true;
    }
    // Engine tasks read the cancellation flag and the export override of this object.
    for (QFuture<void>& worker : workers_) worker.waitForFinished();
}

void BatchProcessor::setCurrentFile(std::optional<AudioFile> file) {
    currentFile_ = std::move(file);
    emit currentFileChanged();
}

void BatchProcessor::setIsFinalMode(bool finalMode) {
    if (isFinalMode_ == finalMode) return;
    isFinalMode_ = finalMode;
    emit isFinalModeChanged();
}

QString BatchProcessor::usedPresetNameText() const {
    return usedPresetName_ ? QString::fromStdString(*usedPresetName_) : QString();
}

void BatchProcessor::setProgress(double value) {
    if (progress_ == value) return;
    progress_ = value;
    emit progressChanged();
}

void BatchProcessor::setIsProcessing(bool processing) {
    if (isProcessing_ == processing) return;
    isProcessing_ = processing;
    emit isProcessingChanged();
}

void BatchProcessor::setWasAnalyzerUsed(bool used) {
    if (wasAnalyzerUsed_ == used) return;
    wasAnalyzerUsed_ = used;
    emit wasAnalyzerUsedChanged();
}

void BatchProcessor::setUsedPresetName(std::optional<std::string> name) {
    if (usedPresetName_ == name) return;
    usedPresetName_ = std::move(name);
    emit usedPresetNameChanged();
}

bool BatchProcessor::isCancelledNow() const {
    std::lock_guard lock(cancellationLock);
    return isCancelled;
}

ExportFormat BatchProcessor::exportFormat() const {
    if (exportFormatOverride_) return *exportFormatOverride_;
    return exportFormatFromStored(store_.stringValue(exportFormatKey));
}

std::shared_ptr<ProgressUpdater> BatchProcessor::makeProgressUpdater() {
    const QPointer<BatchProcessor> self(this);
    // Progress that arrives after a cancel would undo the cancel's reset to 0: it is dropped.
    return ProgressUpdater::create(this, [self](double value) {
        if (self && !self->isCancelledNow()) self->setProgress(value);
    });
}

BatchProcessor::PassContext BatchProcessor::makePassContext(const AudioFile&) {
    PassContext context;
    context.format = exportFormat();
    context.sampleRate = exportSampleRateFromStored(store_.floatValue(exportSampleRateKey));
    if (store_.boolValue(exportNoiseShapingKey).value_or(false)) context.dither = DitherShape::noiseShaped;
    const ReferenceTrackManager& reference = reference_;
    context.usableReference = reference.hasUsableReference();
    context.referenceLevels = reference.referenceLevels();
    if (reference.currentProfile()) context.referenceBalance = reference.currentProfile()->tonalBalance;
    context.matchStrength = reference.matchStrength();
    return context;
}

QFuture<bool> BatchProcessor::loadFile(const fs::path& url) {
    struct Loaded {
        std::optional<AudioFileDetails> details; // none when the file does not open as audio
        std::optional<Error> error;              // why it does not open, or why it cannot be measured
    };
    QFuture<Loaded> loading = runOnPool(pool_, [url]() -> Loaded {
        Loaded loaded;
        AudioFileDetails details;
        try {
            AudioFileReader reader(url);
            details.duration = double(reader.lengthFrames()) / reader.sampleRate();
        } catch (const std::exception& failure) {
            loaded.error = errorFrom(failure);
            return loaded;
        }
        try {
            details.stats = analyzeAudioFile(url);
        } catch (const std::exception& failure) {
            details.stats.reset(); // still loaded, without original statistics
            loaded.error = errorFrom(failure);
        }
        loaded.details = details;
        return loaded;
    });
    workers_.append(QFuture<void>(loading));
    return thenOnMainThread(loading, this, [this, url](const Loaded& loaded) {
        setLastError(loaded.error);
        if (!loaded.details) return false;
        setCurrentFile(AudioFile::create(url, loaded.details->duration, loaded.details->stats));
        return true;
    });
}

void BatchProcessor::beginPass(const std::optional<std::string>& presetName) {
    setIsProcessing(true);
    setProgress(0.0);
    {
        std::lock_guard lock(cancellationLock);
        isCancelled = false;
    }
    setUsedPresetName(presetName);
    lastPass_.reset();
    setLastError(std::nullopt);
}

void BatchProcessor::setLastError(std::optional<Error> error) {
    if (!error && !lastError_) return;
    lastError_ = std::move(error);
    emit lastErrorChanged();
}

QFuture<void> BatchProcessor::processCurrentFile(std::optional<std::string> presetName, bool withReference,
                                                 float targetLUFS, float limitThreshold) {
    if (!currentFile_) return QtFuture::makeReadyFuture();
    beginPass(presetName);
    AudioFile file = *currentFile_;
    file.processingStatus = AudioFile::ProcessingStatus::processing;
    setCurrentFile(file);

    if (withReference) {
        setIsFinalMode(true);
        if (!file.masterURL) {
            file.processingStatus = AudioFile::ProcessingStatus::failed;
            setLastError(Error(std::string(engineDomain), engine_error::outputMissing,
                               "There is no master of \"" + file.filename + "\" to process with the reference"));
            setCurrentFile(file);
            setIsProcessing(false);
            return QtFuture::makeReadyFuture();
        }
    }
    return thenOnMainThread(processFile(file.url, file.masterURL, withReference, targetLUFS, limitThreshold), this,
                            [this, file, withReference](PassOutcome outcome) { finishPass(file, outcome, withReference); });
}

MasteringOptions BatchProcessor::passOptions(const PassContext& context,
                                            const std::shared_ptr<ProgressUpdater>& updater) {
    MasteringOptions options;
    options.format = context.format;
    options.sampleRate = context.sampleRate;
    options.dither = context.dither;
    options.isCancelled = [this] { return isCancelledNow(); };
    options.progress = updater->callback();
    options.events = [this](const MasteringEvent& event) { showEvent(event); };
    return options;
}

void BatchProcessor::showEvent(const MasteringEvent& event) {
    status_.report(event);
    // The reference pass shows what it matched while it renders, and the final version's spectrum after.
    if (event.kind == MasteringEventKind::referenceMatched || event.kind == MasteringEventKind::finalLevelsMeasured) {
        postTo(this, [this, levels = event.bandLevels, matched = event.matchedEQ] {
            reference_.setMasteredSpectrum(levels);
            eq_.setEqSettings(matched);
        });
    }
}

QFuture<BatchProcessor::PassOutcome> BatchProcessor::runPass(MasteringOptions options, bool logConversionFailure) {
    QFuture<PassOutcome> work = runOnPool(pool_, [this, options, logConversionFailure] {
        PassOutcome outcome;
        try {
            outcome.record = masterFile(options);
            // A cancelled pass is dropped as a whole; its conversion did not fail. Diagnostics go to
            // stderr: the command line's stdout carries its report.
            if (outcome.record->conversionFailed && logConversionFailure && !isCancelledNow()) {
                std::cerr << "[Processor] Format conversion failed: "
                          << (outcome.record->conversionError ? outcome.record->conversionError->what() : "")
                          << ", keeping original WAV" << std::endl;
            }
        } catch (const std::exception& failure) {
            outcome.record.reset(); // a failed pass shows as the entry's status, and its error
            outcome.error = errorFrom(failure);
        }
        return outcome;
    });
    workers_.append(QFuture<void>(work));
    return work;
}

QFuture<BatchProcessor::PassOutcome> BatchProcessor::processFile(const fs::path& url,
                                                                 const std::optional<fs::path>& masterURL,
                                                                 bool withReference, float targetLUFS,
                                                                 float limitThreshold) {
    const PassContext context = makePassContext(*currentFile_);
    MasteringOptions options = passOptions(context, makeProgressUpdater());
    options.input = withReference && masterURL ? *masterURL : url;
    options.pass = withReference ? MasteringPass::referenceFinal : MasteringPass::master;
    options.targetLUFS = targetLUFS;
    options.limitThreshold = limitThreshold;
    if (withReference && context.usableReference) {
        options.reference = ReferenceMatch{context.referenceLevels, context.matchStrength, context.referenceBalance};
    }
    return runPass(std::move(options), /*logConversionFailure=*/true);
}

QFuture<void> BatchProcessor::processWithAnalyzerPlan(const AnalyzerPlan& plan) {
    if (!currentFile_) return QtFuture::makeReadyFuture();
    beginPass(std::string("Analyzer"));
    setWasAnalyzerUsed(true);
    AudioFile file = *currentFile_;
    file.processingStatus = AudioFile::ProcessingStatus::processing;
    setCurrentFile(file);
    return thenOnMainThread(renderAnalyzerPlan(file.url, plan), this, [this, file](PassOutcome outcome) {
        finishPass(file, outcome, false);
    });
}

QFuture<BatchProcessor::PassOutcome> BatchProcessor::renderAnalyzerPlan(const fs::path& url, const AnalyzerPlan& plan) {
    MasteringOptions options = passOptions(makePassContext(*currentFile_), makeProgressUpdater());
    options.input = url;
    options.pass = MasteringPass::correctedMaster;
    options.plan = plan;
    options.targetLUFS = plan.settings.targetLUFS;
    options.limitThreshold = plan.settings.limitThreshold;
    return runPass(std::move(options), false);
}

void BatchProcessor::finishPass(const AudioFile& startedWith, const PassOutcome& outcome, bool finalPass) {
    // Drop bookkeeping of finished engine tasks.
    workers_.erase(std::remove_if(workers_.begin(), workers_.end(), [](const QFuture<void>& f) { return f.isFinished(); }),
                   workers_.end());
    if (isCancelledNow()) {
        // The result is dropped; the delayed clean-up of cancelProcessing removes the entry.
        setIsProcessing(false);
        return;
    }
    // A reset or a new load during the pass replaced the entry: the late result belongs to nobody.
    const bool sameEntry = currentFile_ && *currentFile_ == startedWith;
    AudioFile file = sameEntry ? *currentFile_ : startedWith;
    if (outcome.record) {
        const ProcessingResult& result = outcome.record->result;
        if (finalPass) {
            file.finalURL = result.outputURL;
            file.finalStats = result.stats;
        } else {
            file.masterURL = result.outputURL;
            file.masterStats = result.stats;
        }
        file.processingStatus = AudioFile::ProcessingStatus::completed;
        lastPass_ = outcome.record;
        if (!finalPass) lastMasterPass_ = outcome.record;
        if (sameEntry) setCurrentFile(file);
        if (!finalPass) publishMasteredSpectrumOf(result.outputURL);
    } else {
        file.processingStatus = AudioFile::ProcessingStatus::failed;
        // Set before the entry changes, so that whoever shows the failed status finds the reason.
        if (sameEntry) setLastError(outcome.error);
        if (sameEntry) setCurrentFile(file);
    }
    setIsProcessing(false);
    setProgress(1.0);
}

void BatchProcessor::publishMasteredSpectrumOf(const fs::path& result) {
    // Not awaited; a failure leaves the spectrum as it was.
    reference_.analyzeFileSpectrum(result, false);
}

void BatchProcessor::cancelProcessing() {
    {
        std::lock_guard lock(cancellationLock);
        isCancelled = true;
    }
    const QPointer<BatchProcessor> self(this);
    QTimer::singleShot(200, this, [self] {
        if (!self) return;
        self->setIsProcessing(false);
        self->setProgress(0.0);
        self->setCurrentFile(std::nullopt);
        self->setIsFinalMode(false);
    });
}

void BatchProcessor::reset() {
    setCurrentFile(std::nullopt);
    setWasAnalyzerUsed(false);
    setIsFinalMode(false);
    reference_.resetSpectra();
}

} // namespace orvanta
