#pragma once

#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"

#include <QGroupBox>

#include <optional>

class QGridLayout;
class QLabel;

namespace orvanta {

class EqCurveView;

// What a run changed, as the result screen shows it. Absent figures show as "--".
struct MasteringSummary {
    std::optional<float> gainDb;      // the gain into the limiter of the pass kept as the master, dB
    std::optional<int> passes;        // the passes the master took
    std::optional<float> finalGainDb; // the same for the final version of a reference pass, dB
    std::optional<AudioStats> before; // the song
    std::optional<AudioStats> after;  // the processed version
    std::optional<double> loudnessRangeBefore; // LU
    std::optional<double> loudnessRangeAfter;  // LU
    std::optional<float> largestReductionDb;   // the limiter's gain reduction, dB
    std::optional<float> averageReductionDb;
    std::optional<EQSettings> matchedEQ;       // a reference pass's matched EQ
};

// "What changed": the gain applied; loudness, true peak and loudness range before and after; the
// largest and the average gain reduction; and the matched EQ drawn as a curve when a reference pass
// ran. Main thread.
class MasteringSummaryView : public QGroupBox {
    Q_OBJECT

public:
    explicit MasteringSummaryView(QWidget* parent = nullptr);

    void setSummary(const MasteringSummary& summary);
    void setColours(QColor curve, QColor text, QColor grid);

    // Every line shown, "Loudness: -15.8 LUFS -> -8.2 LUFS" and so on.
    QString text() const;
    EqCurveView* matchedEqCurve() const { return matchedEq_; }

private:
    QLabel* value(int row, int column);

    QGridLayout* grid_;
    EqCurveView* matchedEq_;
    QStringList lines_;
};

} // namespace orvanta
