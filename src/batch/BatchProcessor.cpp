#include "batch/BatchProcessor.h"

#include "batch/AudioConverter.h"
#include "batch/EngineInput.h"
#include "engine/AudioProcessor.h"
#include "engine/BackgroundPool.h"
#include "engine/LoudnessMeter.h"
#include "engine/MainThread.h"
#include "engine/ProcessingErrors.h"
#include "engine/ProcessingStatusManager.h"
#include "engine/ProgressUpdater.h"
#include "eq/AudioEngine.h"
#include "eq/EQManager.h"
#include "eq/MatchedEQRefinement.h"
#include "eq/ReferenceSpectrum.h"
#include "eq/ReferenceTrackManager.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceStore.h"
#include "platform/TemporaryDirectory.h"

#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrent>

#include <cerrno>
#include <cmath>
#include <iostream>
#include <new>

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
    bool logConversionFailure = true;
    bool usableReference = false;
    BandLevels referenceLevels{};
    float matchStrength = 0.0f; // percent
};

namespace {

// What a failure was, as the one error type: engine and platform errors as they are, anything else
// (memory, the standard library's file system) with its own text.
Error asError(const std::exception& failure) {
    if (const auto* error = dynamic_cast<const Error*>(&failure)) return *error;
    if (const auto* fileSystem = dynamic_cast<const fs::filesystem_error*>(&failure)) {
        return Error(std::string(domains::fileSystem), fileSystem->code().value(), fileSystem->what());
    }
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        return Error("System", ENOMEM, "Not enough memory");
    }
    return Error("System", 0, failure.what());
}

// The figures of an encoded export: the codec changes the level a little and the peaks more, so the
// file itself is measured; its true peak is the one the converter measured after encoding.
AudioStats exportedFileStats(const fs::path& exported, double truePeakDb) {
    AudioStats stats = analyzeAudioFile(exported);
    stats.truePeak = float(truePeakDb);
    return stats;
}

// Where the conversion tail of a pass sends its result.
struct ExportTarget {
    ExportFormat format = ExportFormat::wav;
    float ceilingDb = 0.0f; // the run's limit threshold, which an encoded result keeps in true peak
    CancellationQuery isCancelled;
    std::function<void(double)> setProgress;
};

// The conversion tail of every pass: the result in the export format, or the WAV itself when the
// conversion fails. An encoded result carries its own figures. `source` is removed after a
// successful conversion only when it is no longer anyone's result (`removeSource`).
BatchPassRecord convertResult(const fs::path& source, const AudioStats& stats, const ExportTarget& target,
                              bool removeSource, bool logFailure) {
    BatchPassRecord record;
    record.result = {source, stats};
    if (target.format == ExportFormat::wav) {
        target.setProgress(1.0);
        return record;
    }
    target.setProgress(0.9);
    try {
        const AudioConverter::Conversion conversion =
            AudioConverter::convert(source, target.format, target.ceilingDb, target.isCancelled);
        if (const auto note = AudioConverter::noteOn(conversion)) record.notes.push_back(*note);
        const bool newFile = !isSameFile(conversion.url, source);
        if (conversion.truePeakDb) {
            try {
                record.result.stats = exportedFileStats(conversion.url, *conversion.truePeakDb);
            } catch (...) {
                if (newFile) removeFileQuietly(conversion.url); // an unmeasured export is nobody's result
                throw;
            }
        }
        if (removeSource && newFile) removeFileQuietly(source);
        record.result.outputURL = conversion.url;
    } catch (const std::exception& error) {
        // A cancelled pass is dropped as a whole; its conversion did not fail. Diagnostics go to
        // stderr: the command line's stdout carries its report (one JSON object with --json).
        if (logFailure && !target.isCancelled()) {
            std::cerr << "[Processor] Format conversion failed: " << error.what() << ", keeping original WAV"
                      << std::endl;
        }
        record.result.stats = stats;
        record.notes.clear();
        record.conversionFailed = true;
        record.conversionError = asError(error);
    }
    target.setProgress(1.0);
    return record;
}

Error inputNotFoundError(const fs::path& input) {
    return Error(std::string(engineDomain), engine_error::outputMissing, "Input file not found at path: " + input.string());
}

} // namespace

BatchProcessor::BatchProcessor(QObject* parent) : QObject(parent) {}

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
    return exportFormatFromStored(PreferenceStore::standard().stringValue(exportFormatKey));
}

std::shared_ptr<ProgressUpdater> BatchProcessor::makeProgressUpdater() {
    const QPointer<BatchProcessor> self(this);
    // Progress that arrives after a cancel would undo the cancel's reset to 0: it is dropped.
    return ProgressUpdater::create(this, [self](double value) {
        if (self && !self->isCancelledNow()) self->setProgress(value);
    });
}

void BatchProcessor::postProgress(double value) {
    // The engine task keeps this object alive (the destructor waits for it); a queued call to an
    // object destroyed meanwhile is dropped.
    postTo(this, [this, value] {
        if (!isCancelledNow()) setProgress(value);
    });
}

BatchProcessor::PassContext BatchProcessor::makePassContext(const AudioFile&) {
    PassContext context;
    context.format = exportFormat();
    context.logConversionFailure = logsConversionFailures_;
    const ReferenceTrackManager& reference = ReferenceTrackManager::shared();
    context.usableReference = reference.hasUsableReference();
    context.referenceLevels = reference.referenceLevels();
    context.matchStrength = reference.matchStrength();
    return context;
}

QFuture<bool> BatchProcessor::loadFile(const fs::path& url) {
    struct Loaded {
        std::optional<AudioFileDetails> details; // none when the file does not open as audio
        std::optional<Error> error;              // why it does not open, or why it cannot be measured
    };
    QFuture<Loaded> loading = QtConcurrent::run(&backgroundPool(), [url]() -> Loaded {
        Loaded loaded;
        AudioFileDetails details;
        try {
            AudioFileReader reader(url);
            details.duration = double(reader.lengthFrames()) / reader.sampleRate();
        } catch (const std::exception& failure) {
            loaded.error = asError(failure);
            return loaded;
        }
        try {
            details.stats = analyzeAudioFile(url);
        } catch (const std::exception& failure) {
            details.stats.reset(); // still loaded, without original statistics
            loaded.error = asError(failure);
        }
        loaded.details = details;
        return loaded;
    });
    workers_.append(QFuture<void>(loading));
    return loading.then(this, [this, url](const Loaded& loaded) {
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
    return processFile(file.url, file.masterURL, withReference, targetLUFS, limitThreshold)
        .then(this, [this, file, withReference](PassOutcome outcome) { finishPass(file, outcome, withReference); });
}

QFuture<BatchProcessor::PassOutcome> BatchProcessor::processFile(const fs::path& url,
                                                                 const std::optional<fs::path>& masterURL,
                                                                 bool withReference, float targetLUFS,
                                                                 float limitThreshold) {
    const std::shared_ptr<ProgressUpdater> updater = makeProgressUpdater();
    const auto setProgressOnMain = [this](double value) { postProgress(value); };
    const PassContext context = makePassContext(*currentFile_);
    const fs::path input = withReference && masterURL ? *masterURL : url;

    QFuture<PassOutcome> work = QtConcurrent::run(&backgroundPool(), [this, updater, context, input, withReference,
                                                                      targetLUFS, limitThreshold,
                                                                      setProgressOnMain]() -> PassOutcome {
        const CancellationQuery cancelled = [this] { return isCancelledNow(); };
        const ExportTarget exportTarget{context.format, limitThreshold, cancelled, setProgressOnMain};
        StatusReporter& status = ProcessingStatusManager::shared();
        const auto onMain = [this](auto work) { postTo(this, std::move(work)); };
        PassOutcome outcome;
        try {
            if (!fileExists(input)) throw inputNotFoundError(input);
            const EngineInput engineInput(input); // a long name would overflow the names derived from it
            const fs::path& source = engineInput.path();
            if (withReference && context.usableReference) {
                const BandLevels inSpec = compute12BandSpectrum(source);
                updater->update(0.2);
                const EQSettings matched =
                    referenceMatchedEQ(input, context.referenceLevels, inSpec, context.matchStrength, cancelled);
                onMain([inSpec, matched] {
                    ReferenceTrackManager::shared().setMasteredSpectrum(inSpec);
                    EQManager::shared().setEqSettings(matched);
                });
                updater->update(0.4);
                const DJMasteringResult result = AudioProcessor::processAudio(
                    source, updater->callback(), cancelled, true, matched, true, targetLUFS, limitThreshold, status);
                const BandLevels outSpec = compute12BandSpectrum(result.outputURL);
                onMain([outSpec, matched] {
                    ReferenceTrackManager::shared().setMasteredSpectrum(outSpec);
                    EQManager::shared().setEqSettings(matched);
                });
                updater->update(0.8);
                outcome.record =
                    convertResult(result.outputURL, result.stats, exportTarget, true, context.logConversionFailure);
                outcome.record->pipeline = result;
            } else if (withReference) {
                // No usable reference: the final version is the master itself, measured again. The
                // master stays the entry's result, so a conversion never removes it.
                status.updateStage(ProcessingStage::finalPolish, "The reference cannot be matched",
                                   "No reference levels to compare: the master is the final version");
                const AudioStats stats = analyzeAudioFile(source);
                updater->update(0.8);
                outcome.record = convertResult(source, stats, exportTarget, false, context.logConversionFailure);
            } else {
                const DJMasteringResult result = AudioProcessor::processAudio(
                    source, updater->callback(), cancelled, false, std::nullopt, true, targetLUFS, limitThreshold,
                    status);
                outcome.record =
                    convertResult(result.outputURL, result.stats, exportTarget, true, context.logConversionFailure);
                outcome.record->pipeline = result;
            }
        } catch (const std::exception& failure) {
            outcome.record.reset(); // a failed pass shows as the entry's status, and its error
            outcome.error = asError(failure);
        }
        return outcome;
    });
    workers_.append(QFuture<void>(work));
    return work;
}

QFuture<void> BatchProcessor::processWithAnalyzerPlan(const AnalyzerPlan& plan) {
    if (!currentFile_) return QtFuture::makeReadyFuture();
    beginPass(std::string("Analyzer"));
    setWasAnalyzerUsed(true);
    AudioFile file = *currentFile_;
    file.processingStatus = AudioFile::ProcessingStatus::processing;
    setCurrentFile(file);
    return renderAnalyzerPlan(file.url, plan).then(this, [this, file](PassOutcome outcome) {
        finishPass(file, outcome, false);
    });
}

QFuture<BatchProcessor::PassOutcome> BatchProcessor::renderAnalyzerPlan(const fs::path& url, const AnalyzerPlan& plan) {
    const std::shared_ptr<ProgressUpdater> renderUpdater = makeProgressUpdater();
    const std::shared_ptr<ProgressUpdater> masterUpdater = makeProgressUpdater();
    const auto setProgressOnMain = [this](double value) { postProgress(value); };
    const PassContext context = makePassContext(*currentFile_);

    QFuture<PassOutcome> work = QtConcurrent::run(&backgroundPool(), [this, renderUpdater, masterUpdater, context,
                                                                      url, plan, setProgressOnMain]() -> PassOutcome {
        const CancellationQuery cancelled = [this] { return isCancelledNow(); };
        const ExportTarget exportTarget{context.format, plan.settings.limitThreshold, cancelled, setProgressOnMain};
        StatusReporter& status = ProcessingStatusManager::shared();
        PassOutcome outcome;
        try {
            if (cancelled()) throw cancellationError();
            status.resetChecklist();
            status.updateStage(ProcessingStage::analyzing, "Analyzer EQ...", "12-band adaptive curve");
            status.addChecklistItem("Analyzer EQ", "slider.horizontal.3");

            // Cut like EngineInput's link: a long legal name would overflow the names derived from it.
            const fs::path eqURL = privateTemporaryDirectory() /
                                   (utf8Prefix(baseNameWithoutExtension(url), 180) + "_analyzer_eq.wav");
            if (fileExists(eqURL)) removeFile(eqURL);
            if (!plan.eqSettings.isEnabled && std::fabs(plan.sideGainDB) <= 0.01f) {
                copyFile(url, eqURL);
            } else {
                AudioEngine::shared().renderCorrection(
                    url, eqURL, plan.eqSettings, [renderUpdater](double f) { renderUpdater->update(0.25 * f); },
                    plan.sideGainDB, plan.wetDryMix, plan.preGainDB);
            }
            status.completeChecklistItem("Analyzer EQ", "Applied", "slider.horizontal.3", false);

            if (cancelled()) throw cancellationError();
            const DJMasteringResult result = AudioProcessor::processAudio(
                eqURL, [masterUpdater](double f) { masterUpdater->update(0.25 + 0.75 * f); }, cancelled, false,
                std::nullopt, false, plan.settings.targetLUFS, plan.settings.limitThreshold, status);
            removeFileQuietly(eqURL);
            outcome.record = convertResult(result.outputURL, result.stats, exportTarget, true, false);
            outcome.record->pipeline = result;
        } catch (const std::exception& failure) {
            outcome.record.reset();
            outcome.error = asError(failure);
        }
        return outcome;
    });
    workers_.append(QFuture<void>(work));
    return work;
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
        if (sameEntry) setCurrentFile(file);
        if (!finalPass) publishMasteredSpectrumOf(result.outputURL);
        lastPass_ = outcome.record;
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
    ReferenceTrackManager::shared().analyzeFileSpectrum(result, false);
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
    ReferenceTrackManager::shared().resetSpectra();
}

} // namespace orvanta
