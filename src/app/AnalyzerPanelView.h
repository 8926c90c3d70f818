#pragma once

#include "analyzer/AnalyzerPanelController.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace orvanta {

class DropZoneWidget;
class SpectrogramView;

// The analyzer panel: a drop zone while idle, "ANALYZING" with the file name and progress, the
// result (score, verdict, devices, use case, loudness figures, score bars with the baseline beside
// them, spectrogram, "MASTERING?" and play controls) or the error with "Try Again". Drawn from its
// AnalyzerPanelController, which it owns; the window's callbacks go in with the inputs. Main thread.
class AnalyzerPanelView : public QWidget {
    Q_OBJECT

public:
    AnalyzerPanelView(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks, QWidget* parent = nullptr);

    AnalyzerPanelController& controller() { return *controller_; }
    // Starts the panel's first analysis (call once, after the window shows the panel).
    void start();

    // The texts shown, for the window's tests.
    QString summaryText() const;

private:
    void refresh();
    void rebuildResult();

    AnalyzerPanelController* controller_;
    QStackedWidget* pages_;
    DropZoneWidget* dropZone_;
    QLabel* analyzingFile_;
    QLabel* analyzingTitle_;
    QProgressBar* progress_;
    QLabel* errorMessage_;
    QWidget* resultPage_;
    QVBoxLayout* resultLayout_;
    QLabel* summary_;
    SpectrogramView* spectrogram_;
};

} // namespace orvanta
