#include "app/ScreenshotTour.h"

#include "app/AnalyzerPanelView.h"
#include "app/MainWindow.h"
#include "models/app/MainWindowModel.h"
#include "models/batch/BatchProcessor.h"
#include "models/engine/MainThread.h"
#include "models/eq/ReferenceTrackManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace orvanta {
namespace {

constexpr int settleMilliseconds = 400;

} // namespace

ScreenshotTour::ScreenshotTour(MainWindow& window, MainWindowModel& model, BatchProcessor& batch,
                               ReferenceTrackManager& reference, std::filesystem::path song, QString outputDirectory,
                               std::vector<QSize> sizes, QObject* parent)
    : QObject(parent), window_(window), model_(model), batch_(batch), reference_(reference), song_(std::move(song)),
      outputDirectory_(std::move(outputDirectory)), sizes_(std::move(sizes)) {}

void ScreenshotTour::start() {
    if (!QDir().mkpath(outputDirectory_)) return fail(QStringLiteral("cannot create ") + outputDirectory_);
    if (song_.empty()) return fail(QStringLiteral("no song to show"));
    QTimer::singleShot(settleMilliseconds, this, &ScreenshotTour::nextSize);
}

void ScreenshotTour::nextSize() {
    if (sizeIndex_ == sizes_.size()) {
        QCoreApplication::exit(0);
        return;
    }
    window_.resize(sizes_[sizeIndex_]);
    thenOnMainThread(model_.dropFile(song_), this, [this] {
        if (!batch_.hasCurrentFile()) return fail(QStringLiteral("the song did not load"));
        QTimer::singleShot(settleMilliseconds, this, &ScreenshotTour::captureImport);
    });
}

void ScreenshotTour::captureImport() {
    save(QStringLiteral("1-import"));
    // The processing screen is caught once the limiter runs, with part of the checklist done.
    processingCaught_ = false;
    progressWatch_ = connect(&batch_, &BatchProcessor::progressChanged, this, &ScreenshotTour::captureProcessing);
    thenOnMainThread(model_.start(), this, [this] {
        disconnect(progressWatch_);
        captureResult();
    });
}

void ScreenshotTour::captureProcessing() {
    if (processingCaught_ || model_.appState() != AppState::processing || batch_.progress() < 0.3) return;
    processingCaught_ = true;
    save(QStringLiteral("2-processing"));
}

void ScreenshotTour::captureResult() {
    if (model_.appState() != AppState::result) return fail(QStringLiteral("mastering did not complete"));
    QTimer::singleShot(settleMilliseconds * 2, this, [this] {
        save(QStringLiteral("3-result"));
        model_.openAnalyzerFromResult();
        waitForAnalysis(0);
    });
}

void ScreenshotTour::waitForAnalysis(int attempt) {
    constexpr int pollMilliseconds = 250;
    constexpr int attempts = 480; // two minutes on a busy machine
    // The panel's own state: the model keeps the previous size's result.
    const AnalyzerPanelView* panel = window_.analyzerPanel();
    const bool done = panel != nullptr &&
                      const_cast<AnalyzerPanelView*>(panel)->controller().viewModel().state().kind ==
                          AnalyzerViewModel::StateKind::completed;
    if (!done && attempt < attempts) {
        QTimer::singleShot(pollMilliseconds, this, [this, attempt] { waitForAnalysis(attempt + 1); });
        return;
    }
    QTimer::singleShot(settleMilliseconds, this, [this] {
        save(QStringLiteral("4-analyzer"));
        model_.closeAnalyzer();
        model_.choosePreset(1); // "Loud", and analyzer use off again
        captureReference();
    });
}

void ScreenshotTour::captureReference() {
    // The song is its own reference: the master's changed balance still gives a matched EQ to draw.
    thenOnMainThread(reference_.loadReference(song_), this,
                     [this] {
                         thenOnMainThread(model_.startMasteringProcess(true), this, [this] {
                             if (model_.appState() != AppState::result)
                                 return fail(QStringLiteral("the reference pass did not complete"));
                             QTimer::singleShot(settleMilliseconds * 2, this, [this] {
                                 save(QStringLiteral("5-reference"));
                                 finishSize();
                             });
                         });
                     })
        .onFailed(this, [this] { fail(QStringLiteral("the reference did not load")); });
}

void ScreenshotTour::finishSize() {
    // The next size starts without the reference, whose profile is kept in the preferences.
    reference_.clearReference();
    model_.resetApplication();
    model_.choosePreset(1);
    ++sizeIndex_;
    QTimer::singleShot(settleMilliseconds, this, &ScreenshotTour::nextSize);
}

void ScreenshotTour::save(const QString& screen) {
    const QSize size = sizes_[sizeIndex_];
    const QString file = QStringLiteral("%1/%2x%3-%4.png")
                             .arg(outputDirectory_)
                             .arg(size.width())
                             .arg(size.height())
                             .arg(screen);
    if (!window_.grab().save(file)) return fail(QStringLiteral("cannot write ") + file);
    std::printf("[Screenshots] %s\n", file.toUtf8().constData());
    std::fflush(stdout);
}

void ScreenshotTour::fail(const QString& why) {
    std::fprintf(stderr, "[Screenshots] %s\n", why.toUtf8().constData());
    QCoreApplication::exit(1);
}

} // namespace orvanta
