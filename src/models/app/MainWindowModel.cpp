#include "models/app/MainWindowModel.h"

#include "analyzer/CorrectionPlan.h"
#include "batch/ExportNaming.h"
#include "eq/EQSettings.h"
#include "models/app/AppPreferences.h"
#include "models/app/ExportWriter.h"
#include "models/app/NotificationHub.h"
#include "models/app/PresetRules.h"
#include "models/app/QtText.h"
#include "models/app/TemporaryCleanup.h"
#include "models/batch/AudioSettingsManager.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"
#include "models/eq/EQManager.h"
#include "models/eq/ReferenceTrackManager.h"
#include "models/playback/AudioPlayerManager.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceStore.h"
#include "platform/TemporaryDirectory.h"

#include <QPromise>
#include <QThreadPool>

#include <cstdio>
#include <memory>

namespace orvanta {
namespace fs = std::filesystem;
namespace {

constexpr double maximumDurationSeconds = 900.0;

QFuture<void> finishedFuture() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

bool isCompleted(const BatchProcessor& batch) {
    return batch.currentFile() && batch.currentFile()->processingStatus == AudioFile::ProcessingStatus::completed;
}

bool liesIn(const fs::path& file, const fs::path& directory) {
    std::error_code error;
    return fs::equivalent(file.parent_path(), directory, error);
}

} // namespace

MainWindowModel::MainWindowModel(BatchProcessor& batch, AudioSettingsManager& settings, AudioPlayerManager& player,
                                 ReferenceTrackManager& reference, EQManager& eq, PreferenceStore& store,
                                 NotificationHub& hub, QThreadPool& pool, QObject* parent)
    : QObject(parent), batch_(batch), settings_(settings), player_(player), reference_(reference), eq_(eq),
      store_(store), hub_(hub), pool_(pool), showReport_(readShowReport(store)) {
    connect(&settings_, &AudioSettingsManager::targetLoudnessChanged, this, &MainWindowModel::presetLabelChanged);
    connect(&settings_, &AudioSettingsManager::limitThresholdChanged, this, &MainWindowModel::presetLabelChanged);
    connect(&settings_, &AudioSettingsManager::useAnalyzerChanged, this, &MainWindowModel::presetLabelChanged);
}

void MainWindowModel::windowShown() {
    // Removing rendered files of a 10-minute song takes tens of milliseconds: off the main thread.
    static_cast<void>(runOnPool(pool_, [] { cleanUpTemporaryFiles(false); }));
    settings_.setUseAnalyzer(false);
}

QString MainWindowModel::presetLabel() const {
    const std::string_view label =
        orvanta::presetLabel(settings_.useAnalyzer(), settings_.targetLoudness(), settings_.limitThreshold());
    return qtText(label);
}

void MainWindowModel::choosePreset(int index) {
    if (index < 0 || index >= int(masteringPresets.size())) return;
    settings_.applyPreset(masteringPresets[size_t(index)].targetLoudness, masteringPresets[size_t(index)].limitThreshold);
}

void MainWindowModel::dropFailed(bool itemError) {
    raiseAlert(itemError ? AlertType::invalidFileFormat : AlertType::generalError);
}

QFuture<void> MainWindowModel::dropFile(const fs::path& file) {
    batch_.reset();
    double duration = 0.0;
    try {
        // The reader refuses anything but a regular file before opening it: this runs on the main
        // thread, where a named pipe's open would block the window.
        AudioFileReader reader(file);
        duration = double(reader.lengthFrames()) / reader.sampleRate();
    } catch (const Error& error) {
        raiseAlert(AlertType::invalidFileFormat, QString::fromStdString(describeForUser(error)));
        return finishedFuture();
    } catch (const std::exception& error) {
        raiseAlert(AlertType::invalidFileFormat, QString::fromUtf8(error.what()));
        return finishedFuture();
    }
    if (duration > maximumDurationSeconds) {
        raiseAlert(AlertType::fileTooLong);
        return finishedFuture();
    }
    if (settings_.useAnalyzer()) {
        analyzerURL_ = file;
        analyzerOriginalURL_.reset();
        analyzerIsMastered_ = false;
        setShowAnalyzerPanel(true);
        return finishedFuture();
    }
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const unsigned generation = generation_;
    thenOnMainThread(batch_.loadFile(file), this, [this, promise, file, generation](bool loaded) {
        if (!loaded) {
            // Opened above but not by the batch processor (it changed meanwhile): nothing is loaded.
            if (generation == generation_) {
                const auto& error = batch_.lastError();
                raiseAlert(AlertType::invalidFileFormat,
                           error ? QString::fromStdString(describeForUser(*error)) : QString());
            }
            promise->finish();
            return;
        }
        if (reference_.hasProfile()) {
            // A failure leaves the spectrum as it was.
            thenOnMainThread(reference_.analyzeFileSpectrum(file, true), this, [promise] { promise->finish(); });
            return;
        }
        promise->finish();
    });
    return promise->future();
}

QFuture<void> MainWindowModel::start() {
    if (settings_.useAnalyzer()) return finishedFuture();
    store_.remove(activeEQSettingsKey);
    return startMasteringProcess(false);
}

QFuture<void> MainWindowModel::startWithReference() {
    if (!reference_.isEnabled()) return finishedFuture();
    return startMasteringProcess(true);
}

QFuture<void> MainWindowModel::startMasteringProcess(bool withReference) {
    const float target = settings_.targetLoudness();
    const float threshold = settings_.limitThreshold();
    std::optional<std::string> name;
    if (const auto runLabel = runName(withReference, target, threshold)) name = std::string(*runLabel);
    setAppState(AppState::processing);

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const unsigned generation = generation_;
    QFuture<void> processing = batch_.processCurrentFile(name, withReference, target, threshold);
    thenOnMainThread(processing, this, [this, promise, withReference, generation] {
        // A reset meanwhile (cancel, start over) owns the screen now.
        if (generation != generation_ || !isCompleted(batch_)) {
            promise->finish();
            return;
        }
        if (!withReference && reference_.hasProfile() && !batch_.isFinalMode()) {
            AudioFile file = *batch_.currentFile();
            file.finalURL.reset();
            file.finalStats.reset();
            file.processingStatus = AudioFile::ProcessingStatus::pending;
            batch_.setCurrentFile(file);
            batch_.setIsFinalMode(true);
            thenOnMainThread(startMasteringProcess(true), this, [this, promise, generation] {
                // The master exists even when the follow-up failed, so its result is shown.
                if (generation == generation_) setAppState(AppState::result);
                promise->finish();
            });
            return;
        }
        setAppState(AppState::result);
        promise->finish();
    });
    return promise->future();
}

void MainWindowModel::requestCancel() { raiseAlert(AlertType::cancelConfirmation); }

void MainWindowModel::answerAlert(const QString& buttonLabel) {
    const std::optional<AlertType> answered = alertType_;
    alertType_.reset();
    alertDetail_.clear();
    emit alertTypeChanged();
    if (answered == AlertType::cancelConfirmation && buttonLabel == QStringLiteral("Cancel")) resetApplication();
}

void MainWindowModel::togglePlay(int index, bool original) {
    const auto& file = batch_.currentFile();
    if (!file || index != 0) return;
    const bool wasPlayingFile = playingFileIndex_ == index;
    if (wasPlayingFile && playingOriginal_ == original) {
        player_.pause();
        playingFileIndex_.reset();
        emit playingChanged();
        return;
    }
    const float progress = player_.currentProgress();
    player_.stop();
    const bool finalMode = batch_.isFinalMode();
    fs::path url = file->url;
    std::optional<AudioStats> stats = file->originalStats;
    if (!original) {
        const auto& result = finalMode ? file->finalURL : file->masterURL;
        url = result.value_or(file->url);
        stats = finalMode ? file->finalStats : file->masterStats;
    }
    // loadFile stops the player, which clears the version flags: they are set after it.
    player_.loadFile(url);
    player_.setIsPlayingOriginal(original);
    player_.setIsPlayingProcessedFile(!original);
    player_.updateEQ(defaultEQSettings());
    if (stats) {
        player_.setCurrentFileLUFS(stats->lufs);
        player_.setCurrentFilePeak(stats->peak);
        player_.updateNeededGain();
    }
    player_.play();
    if (progress > 0.01f && wasPlayingFile) player_.seek(progress);
    playingFileIndex_ = index;
    playingOriginal_ = original;
    emit playingChanged();
    emit hub_.vectorscopeUrlChanged(QString::fromStdString(url.string()));
}

ExportChoice MainWindowModel::defaultChoice() const {
    return batch_.isFinalMode() ? ExportChoice::final : ExportChoice::master;
}

std::optional<fs::path> MainWindowModel::processedResult() const {
    const auto& file = batch_.currentFile();
    if (!file) return std::nullopt;
    return batch_.isFinalMode() && file->finalURL ? file->finalURL : file->masterURL;
}

QString MainWindowModel::proposedExportFileName(std::optional<ExportChoice> choice) const {
    if (!batch_.currentFile()) return QString::fromUtf8(defaultExportFileName);
    const bool final = choice.value_or(defaultChoice()) == ExportChoice::final;
    return QString::fromStdString(
        exportFileName(batch_.currentFile()->url, final, fileExtension(settings_.exportFormat())));
}

std::optional<fs::path> MainWindowModel::exportSource(ExportChoice choice) const {
    const auto& file = batch_.currentFile();
    if (!file) return std::nullopt;
    return choice == ExportChoice::final ? file->finalURL : file->masterURL;
}

QFuture<bool> MainWindowModel::exportTo(const fs::path& destination, std::optional<ExportChoice> choice) {
    const std::optional<fs::path> source = exportSource(choice.value_or(defaultChoice()));
    const fs::path original = batch_.currentFile() ? batch_.currentFile()->url : fs::path();
    const std::optional<fs::path> reference = reference_.referencePath();
    // A name the user typed with another of the formats' extensions gets that format.
    const ExportFormat format = exportFormatForName(settings_.exportFormat(), destination);
    const DitherShape dither = settings_.noiseShaping() ? DitherShape::noiseShaped : DitherShape::flat;
    const float ceilingDb = settings_.limitThreshold(); // the ceiling the runs use; an analyzer run stores its own
    setIsExporting(true);
    QFuture<QString> work = runOnPool(pool_, [=]() -> QString {
        try {
            if (!source) return QStringLiteral("no rendered version to export");
            // The song the user loaded is never replaced by its own master.
            if (!original.empty() && isSameFile(original, destination))
                return QStringLiteral("the destination is the song's original file");
            if (reference && isSameFile(*reference, destination))
                return QStringLiteral("the destination is the reference recording");
            writeExport(*source, destination, format, ceilingDb, dither);
            return {};
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
    });
    return thenOnMainThread(work, this, [this](const QString& failure) {
        setIsExporting(false);
        if (!failure.isEmpty()) {
            std::printf("[Export] Failed to export file: %s\n", failure.toUtf8().constData());
            std::fflush(stdout);
            raiseAlert(AlertType::exportError);
            return false;
        }
        emit exportSucceeded();
        return true;
    });
}

QFuture<bool> MainWindowModel::exportAll(const fs::path& directory) {
    if (!isCompleted(batch_)) {
        QPromise<bool> promise;
        promise.start();
        promise.addResult(false);
        promise.finish();
        return promise.future();
    }
    return exportTo(directory / proposedExportFileName().toStdString());
}

void MainWindowModel::toggleReport() {
    showReport_ = !showReport_;
    storeShowReport(store_, showReport_);
    emit showReportChanged();
}

void MainWindowModel::resetApplication() {
    ++generation_;
    player_.stop();
    playingFileIndex_.reset();
    emit playingChanged();
    batch_.cancelProcessing();
    eq_.resetToDefaults();
    reference_.setOriginalSpectrum(QVector<float>(12, 0.0f));
    reference_.setMasteredSpectrum(QVector<float>(12, 0.0f));
    // The import screen returns once the rendered files are gone, so a new run never races the clean-up.
    const unsigned generation = generation_;
    thenOnMainThread(runOnPool(pool_, [] { cleanUpTemporaryFiles(true); }), this, [this, generation] {
        if (generation == generation_) setAppState(AppState::importFiles);
    });
}

void MainWindowModel::openAnalyzerFromResult() {
    const auto& file = batch_.currentFile();
    if (!file) return;
    settings_.setUseAnalyzer(true);
    analyzerPlan_.reset();
    const std::optional<fs::path> processed = processedResult();
    analyzerURL_ = processed.value_or(file->url);
    analyzerIsMastered_ = processed.has_value();
    analyzerOriginalURL_ = processed ? std::optional<fs::path>(file->url) : std::nullopt;
    setShowAnalyzerPanel(true);
}

void MainWindowModel::analysisCompleted(const fs::path& url, AudioAnalysisResult result) {
    lastAnalysisResult_ = std::move(result);
    lastAnalysisURL_ = url;
}

QFuture<void> MainWindowModel::repair() {
    if (!lastAnalysisResult_ || !lastAnalysisURL_) {
        isAnalyzerRunning_ = false;
        raiseAlert(AlertType::analysisFailed);
        return finishedFuture();
    }
    isAnalyzerRunning_ = true;
    const AudioAnalysisResult result = *lastAnalysisResult_;
    const fs::path analysed = *lastAnalysisURL_;
    struct Prepared {
        std::optional<AnalyzerPlan> plan;
        fs::path input;
    };
    QFuture<Prepared> preparing = runOnPool(pool_, [result, analysed, &store = store_]() -> Prepared {
        try {
            const BandLevels levels = ReferenceTrackManager::compute12BandSpectrum(analysed);
            const auto& details = result.analysisDetails;
            Prepared prepared;
            prepared.plan = makePlan(result, std::vector<float>(levels.begin(), levels.end()),
                                     float(details.lufsIntegrated), float(details.peakLevel), float(details.rmsLevel), store);
            prepared.input = analysed;
            // A rendered result lives in the temporary folder where the repair writes its own
            // <name>_master.wav; repair a copy under another name so the analysed file survives.
            const fs::path temporary = privateTemporaryDirectory();
            if (liesIn(analysed, temporary)) {
                std::string base = baseNameWithoutExtension(analysed);
                for (const char* marker : {"_master", "_final"})
                    if (const auto cut = base.find(marker); cut != std::string::npos) base.erase(cut);
                prepared.input = temporary / (base + " (repaired)" + analysed.extension().string());
                removeFileQuietly(prepared.input);
                copyFileAtomically(analysed, prepared.input);
            }
            return prepared;
        } catch (const std::exception&) {
            return {};
        }
    });
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    thenOnMainThread(preparing, this, [this, promise, result, analysed](const Prepared& prepared) {
        if (!prepared.plan) {
            isAnalyzerRunning_ = false;
            raiseAlert(AlertType::analysisFailed);
            promise->finish();
            return;
        }
        lastAnalysisResult_ = result;
        lastAnalysisURL_ = analysed;
        analyzerPlan_ = prepared.plan;
        analyzerURL_ = prepared.input;
        thenOnMainThread(applyAnalyzerPlan(*prepared.plan), this, [promise] { promise->finish(); });
    });
    return promise->future();
}

QFuture<void> MainWindowModel::applyAnalyzerPlan(const AnalyzerPlan& plan) {
    settings_.setTargetLoudness(plan.settings.targetLUFS);
    settings_.setLimitThreshold(plan.settings.limitThreshold);
    saveEQSettings(store_, plan.eqSettings, eqSettingsKey);
    saveEQSettings(store_, plan.eqSettings, activeEQSettingsKey);
    setAppState(AppState::processing);

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    auto finish = [this, promise] {
        analyzerPlan_.reset();
        isAnalyzerRunning_ = false;
        settings_.setUseAnalyzer(false);
        promise->finish();
    };
    if (!analyzerURL_) {
        setAppState(AppState::importFiles);
        raiseAlert(AlertType::analysisFailed);
        finish();
        return promise->future();
    }
    const unsigned generation = generation_;
    thenOnMainThread(batch_.loadFile(*analyzerURL_), this, [this, plan, finish, generation](bool loaded) {
        if (!loaded) {
            setAppState(AppState::importFiles);
            raiseAlert(AlertType::analysisFailed);
            finish();
            return;
        }
        thenOnMainThread(batch_.processWithAnalyzerPlan(plan), this, [this, finish, generation] {
            if (generation == generation_ && isCompleted(batch_)) setAppState(AppState::result);
            finish();
        });
    });
    return promise->future();
}

void MainWindowModel::playFromAnalyzer(bool original) {
    const auto& file = batch_.currentFile();
    if (!file) return;
    const float progress = player_.currentProgress();
    const bool wasPlaying = player_.playbackState() == PlaybackState::playing;
    player_.stop();
    fs::path url = file->url;
    std::optional<AudioStats> stats = file->originalStats;
    if (!original) {
        if (batch_.isFinalMode()) {
            url = file->finalURL.value_or(file->masterURL.value_or(file->url));
            stats = file->finalStats ? file->finalStats : file->masterStats;
        } else {
            url = file->masterURL.value_or(file->url);
            stats = file->masterStats;
        }
    }
    player_.loadFile(url);
    player_.setIsPlayingOriginal(original);
    player_.setIsPlayingProcessedFile(!original);
    if (stats) {
        player_.setCurrentFileLUFS(stats->lufs);
        player_.setCurrentFilePeak(stats->peak);
        player_.updateNeededGain();
    }
    if (progress > 0.0f) player_.seek(progress);
    if (wasPlaying) player_.play();
    emit hub_.analyzerPlaybackChanged(original);
}

void MainWindowModel::closeAnalyzer() { setShowAnalyzerPanel(false); }

void MainWindowModel::setAppState(AppState state) {
    if (appState_ == state) return;
    appState_ = state;
    emit appStateChanged();
}

void MainWindowModel::raiseAlert(AlertType type, QString detail) {
    alertType_ = type;
    alertDetail_ = std::move(detail);
    emit alertTypeChanged();
}

void MainWindowModel::setIsExporting(bool exporting) {
    if (isExporting_ == exporting) return;
    isExporting_ = exporting;
    emit isExportingChanged();
}

void MainWindowModel::setShowAnalyzerPanel(bool show) {
    if (showAnalyzerPanel_ == show) return;
    showAnalyzerPanel_ = show;
    emit showAnalyzerPanelChanged();
}

} // namespace orvanta
