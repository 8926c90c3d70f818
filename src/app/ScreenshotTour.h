#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include <filesystem>
#include <vector>

namespace orvanta {

class BatchProcessor;
class MainWindow;
class MainWindowModel;
class ReferenceTrackManager;

// Walks the window through its three screens with a song and saves one PNG of the whole window per
// screen and window size ("<size>-1-import.png", "-2-processing.png", "-3-result.png",
// "-4-analyzer.png" with the analyzer panel beside the result, and "-5-reference.png", the result of a
// reference pass against the song itself with its matched EQ), for checking the layout by eye.
// Quits the application when done (exit code 1 on failure). Main thread.
class ScreenshotTour : public QObject {
    Q_OBJECT

public:
    ScreenshotTour(MainWindow& window, MainWindowModel& model, BatchProcessor& batch, ReferenceTrackManager& reference,
                   std::filesystem::path song, QString outputDirectory, std::vector<QSize> sizes,
                   QObject* parent = nullptr);

    void start();

private:
    void nextSize();
    void captureImport();
    void captureProcessing();
    void captureResult();
    void waitForAnalysis(int attempt);
    void captureReference();
    void finishSize();
    void save(const QString& screen);
    void fail(const QString& why);

    MainWindow& window_;
    MainWindowModel& model_;
    BatchProcessor& batch_;
    ReferenceTrackManager& reference_;
    std::filesystem::path song_;
    QString outputDirectory_;
    std::vector<QSize> sizes_;
    size_t sizeIndex_ = 0;
    bool processingCaught_ = false;
    QMetaObject::Connection progressWatch_;
};

} // namespace orvanta
