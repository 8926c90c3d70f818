#pragma once

#include "models/analyzer/AnalyzerPanelController.h"
#include "app/ThemedWidget.h"

class QLabel;
class QLayout;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

class QThreadPool;

namespace orvanta {

class DropZoneWidget;
class EqCurveView;
class MeterBar;
class ScoreRing;
class SpectrogramView;

// The analyzer panel: a drop zone while idle, "ANALYZING" with the file name and progress, the
// result or the error with "Try Again". The result: the overall score in a ring coloured by verdict
// with the verdict and its sentence, "Laptop" and "PA System" as bars, "Best for: ..." with the note,
// tiles for "LUFS", "TRUE PEAK" and "SHORT TERM", bars for the six scores each with a marker at the
// baseline's value, the spectrogram, the repair's EQ curve once it is worked out, "MASTERING?" and the
// play controls. Drawn from its
// AnalyzerPanelController, which it owns; the window's callbacks go in with the inputs. Main thread.
class AnalyzerPanelView : public ThemedWidget {
    Q_OBJECT

public:
    AnalyzerPanelView(AnalyzerPanelInputs inputs, AnalyzerPanelCallbacks callbacks, QThreadPool& pool,
                      QWidget* parent = nullptr);

    AnalyzerPanelController& controller() { return *controller_; }
    // Starts the panel's first analysis (call once, after the window shows the panel).
    void start();

    // The texts shown, one figure a line ("LUFS -8.2", "Warmth 41% (30%)", ...).
    QString summaryText() const;
    // The bar of "Warmth", "Clarity", "Dynamics", "Space", "Mid", "Side", "Laptop" or "PA System".
    MeterBar* bar(const QString& label) const;
    ScoreRing* scoreRing() const { return ring_; }
    SpectrogramView* spectrogramView() const { return spectrogram_; }
    // The repair's EQ curve, shown before "MASTERING?" when repair is offered (null when it is not).
    EqCurveView* repairCurve() const { return repairCurve_; }
    // The value shown on the tile "LUFS", "TRUE PEAK" or "SHORT TERM".
    QString tileText(const QString& caption) const;

protected:
    // Colours of the drawn figures (the window's style sheet colours the rest).
    void themeChanged() override;

private:
    // The panel's pages, in the order of the stack, built once by the constructor.
    QWidget* makeDropPage();
    QWidget* makeAnalyzingPage();
    QWidget* makeResultPage(QThreadPool& pool);
    QLayout* makeVerdictHead();
    QLayout* makeResultControls();
    QWidget* makeErrorPage();
    void connectModel();

    void refresh();
    void refreshProgress();
    void rebuildResult();
    void refreshRepairCurve();

    AnalyzerPanelController* controller_;
    QStackedWidget* pages_;
    DropZoneWidget* dropZone_;
    QLabel* analyzingFile_;
    QLabel* analyzingTitle_;
    QProgressBar* progress_;
    QLabel* errorMessage_;
    QWidget* resultPage_;
    QVBoxLayout* resultLayout_;
    void applyColours();
    QWidget* makeTile(const QString& caption, const QString& unit);

    QString summary_;
    ScoreRing* ring_;
    QLabel* verdict_;
    QLabel* sentence_;
    QLabel* bestFor_;
    QLabel* note_;
    QList<MeterBar*> bars_;
    QList<QLabel*> tileValues_; // object name = the tile's caption
    SpectrogramView* spectrogram_;
    EqCurveView* repairCurve_ = nullptr;
};

} // namespace orvanta
