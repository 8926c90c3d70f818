#include "app/MasteringSummaryView.h"

#include "app/EqCurveView.h"
#include "app/LoudnessToolTip.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include <cmath>

namespace orvanta {
namespace {

const QString none = QStringLiteral("--");

enum Row { gainRow = 0, headerRow, loudnessRow, peakRow, rangeRow, reductionRow, rowCount };

QString decibels(const std::optional<float>& db, const char* format = "%.1f dB") {
    return db ? QString::asprintf(format, double(*db)) : none;
}

QString loudness(const std::optional<AudioStats>& stats) {
    return stats ? QString::asprintf("%.1f LUFS", double(stats->lufs)) : none;
}

// The true peak where it was measured, else the sample peak.
QString peak(const std::optional<AudioStats>& stats) {
    if (!stats) return none;
    return std::isfinite(stats->truePeak) ? QString::asprintf("%.1f dBTP", double(stats->truePeak))
                                          : QString::asprintf("%.1f dBFS", double(stats->peak));
}

QString range(const std::optional<double>& lu) { return lu ? QString::asprintf("%.1f LU", *lu) : none; }

} // namespace

MasteringSummaryView::MasteringSummaryView(QWidget* parent) : QGroupBox(QStringLiteral("What changed"), parent) {
    setAccessibleName(QStringLiteral("What changed"));
    auto* layout = new QHBoxLayout(this);
    grid_ = new QGridLayout;
    grid_->setHorizontalSpacing(12);
    grid_->setVerticalSpacing(2);
    const char* names[] = {"Gain applied", "", "Loudness", "True peak", "Loudness range", "Gain reduction"};
    for (int row = 0; row < rowCount; ++row) {
        auto* name = new QLabel(QString::fromUtf8(names[row]));
        name->setObjectName(QStringLiteral("technicalLine"));
        grid_->addWidget(name, row, 0);
        // The gain applied and the gain reduction read across both columns.
        if (row == gainRow || row == reductionRow) {
            grid_->addWidget(new QLabel, row, 1, 1, 2);
            continue;
        }
        for (int column = 1; column <= 2; ++column) grid_->addWidget(new QLabel, row, column);
    }
    value(headerRow, 1)->setText(QStringLiteral("Before"));
    value(headerRow, 2)->setText(QStringLiteral("After"));
    for (int column = 1; column <= 2; ++column) value(headerRow, column)->setObjectName(QStringLiteral("technicalLine"));
    grid_->setColumnStretch(3, 1);
    layout->addLayout(grid_);
    matchedEq_ = new EqCurveView(QStringLiteral("Matched EQ"));
    matchedEq_->setVisible(false);
    layout->addWidget(matchedEq_, 1);
    setSummary(MasteringSummary{});
}

QLabel* MasteringSummaryView::value(int row, int column) {
    return static_cast<QLabel*>(grid_->itemAtPosition(row, column)->widget());
}

void MasteringSummaryView::setSummary(const MasteringSummary& summary) {
    QString gain = decibels(summary.gainDb, "%+.1f dB");
    // The checklist's "Gain Adjust" is the first pass's estimate; this is the gain of the pass kept.
    if (summary.gainDb && summary.passes)
        gain += *summary.passes == 1 ? QStringLiteral(" (the kept pass's gain; 1 pass)")
                                     : QStringLiteral(" (the kept pass's gain; %1 passes)").arg(*summary.passes);
    if (summary.finalGainDb) gain += QStringLiteral(", final pass ") + decibels(summary.finalGainDb, "%+.1f dB");
    value(gainRow, 1)->setText(gain);
    value(loudnessRow, 1)->setText(loudness(summary.before));
    value(loudnessRow, 2)->setText(loudness(summary.after));
    value(loudnessRow, 1)->setToolTip(loudnessToolTip(summary.before ? std::optional<double>(summary.before->lufs) : std::nullopt));
    value(loudnessRow, 2)->setToolTip(loudnessToolTip(summary.after ? std::optional<double>(summary.after->lufs) : std::nullopt));
    value(peakRow, 1)->setText(peak(summary.before));
    value(peakRow, 2)->setText(peak(summary.after));
    value(rangeRow, 1)->setText(range(summary.loudnessRangeBefore));
    value(rangeRow, 2)->setText(range(summary.loudnessRangeAfter));
    const QString reduction = QStringLiteral("largest ") + decibels(summary.largestReductionDb) +
                              QStringLiteral(", average ") + decibels(summary.averageReductionDb);
    value(reductionRow, 1)->setText(reduction);
    matchedEq_->setSettings(summary.matchedEQ);
    matchedEq_->setVisible(summary.matchedEQ.has_value());

    const QString arrow = QStringLiteral(" -> ");
    lines_ = {QStringLiteral("Gain applied: ") + gain,
              QStringLiteral("Loudness: ") + loudness(summary.before) + arrow + loudness(summary.after),
              QStringLiteral("True peak: ") + peak(summary.before) + arrow + peak(summary.after),
              QStringLiteral("Loudness range: ") + range(summary.loudnessRangeBefore) + arrow +
                  range(summary.loudnessRangeAfter),
              QStringLiteral("Gain reduction: ") + reduction};
    if (summary.matchedEQ) lines_ << QStringLiteral("Matched EQ: drawn");
}

void MasteringSummaryView::setColours(QColor curve, QColor text, QColor grid) { matchedEq_->setColours(curve, text, grid); }

QString MasteringSummaryView::text() const { return lines_.join(QLatin1Char('\n')); }

} // namespace orvanta
