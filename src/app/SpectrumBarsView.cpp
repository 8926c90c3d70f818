#include "app/SpectrumBarsView.h"

#include "app/ThemeColors.h"
#include "eq/EQSettings.h"
#include "eq/ReferenceSpectrum.h"
#include "models/eq/ReferenceTrackManager.h"

#include <QPainter>

#include <algorithm>

namespace orvanta {

double SpectrumBarsView::levelOfDecibels(double dB) { return (dB - levelFloorDb) / decibelsPerLevelUnit; }

namespace {

constexpr int labelHeight = 14;

QVector<float> twelveLevels(const QVector<float>& levels) {
    QVector<float> result(SpectrumBarsView::bandCount, 0.0f);
    for (int i = 0; i < SpectrumBarsView::bandCount && i < levels.size(); ++i) {
        const float level = levels[i];
        result[i] = std::isfinite(level) ? std::clamp(level, 0.0f, SpectrumBarsView::maximumLevel) : 0.0f;
    }
    return result;
}

QString bandLabel(float hz) {
    return hz >= 1000.0f ? QString::number(hz / 1000.0f, 'g', 3) + QStringLiteral("k") : QString::number(hz, 'g', 4);
}

} // namespace

SpectrumBarsView::SpectrumBarsView(QWidget* parent) : ThemedWidget(parent) {
    setMinimumSize(240, 100);
    setAccessibleName(QStringLiteral("Spectrum of the original, the master and the reference in 12 bands"));
    for (auto& series : series_) {
        series = twelveLevels({});
    }
}

void SpectrumBarsView::setSpectra(const QVector<float>& original, const QVector<float>& mastered,
                                  const QVector<float>& reference) {
    series_[0] = twelveLevels(original);
    series_[1] = twelveLevels(mastered);
    series_[2] = twelveLevels(reference);
    update();
}

void SpectrumBarsView::bindTo(ReferenceTrackManager& manager) {
    auto refresh = [this, &manager] {
        setSpectra(manager.originalSpectrum(), manager.masteredSpectrum(),
                   manager.hasProfile() ? manager.referenceSpectrum() : QVector<float>());
    };
    connect(&manager, &ReferenceTrackManager::originalSpectrumChanged, this, refresh);
    connect(&manager, &ReferenceTrackManager::masteredSpectrumChanged, this, refresh);
    connect(&manager, &ReferenceTrackManager::referenceSpectrumChanged, this, refresh);
    connect(&manager, &ReferenceTrackManager::currentProfileChanged, this, refresh);
    refresh();
}

QRectF SpectrumBarsView::barRect(int band, int series) const {
    const double groupWidth = static_cast<double>(std::max(0, width() - axisWidth)) / bandCount;
    const double barWidth = groupWidth * 0.8 / 3.0;
    const double plotHeight = std::max(0, height() - labelHeight);
    const double level = series_[series][band] / maximumLevel;
    const double x = axisWidth + band * groupWidth + groupWidth * 0.1 + series * barWidth;
    return QRectF(x, plotHeight * (1.0 - level), barWidth, plotHeight * level);
}

void SpectrumBarsView::paintEvent(QPaintEvent*) {
    const Theme& theme = this->theme();
    QPainter painter(this);
    painter.fillRect(rect(), themeColor(theme.cardBackground));
    QFont font = painter.font();
    font.setPixelSize(10);
    painter.setFont(font);

    // The dB scale: a line every 10 dB, labelled every 20 dB where the plot is short.
    const double plotHeight = std::max(0, height() - labelHeight);
    const int labelEvery = plotHeight < 140 ? 20 : 10;
    QColor grid = themeColor(theme.textSecondary);
    grid.setAlpha(45);
    for (int dB = -20; dB <= 50; dB += 10) {
        const double y = plotHeight * (1.0 - levelOfDecibels(dB) / maximumLevel);
        painter.setPen(QPen(grid, 1));
        painter.drawLine(QPointF(axisWidth, y), QPointF(width(), y));
        if ((dB + 20) % labelEvery != 0) continue;
        painter.setPen(themeColor(theme.textSecondary));
        // Labels stay inside the widget at both ends of the scale.
        const double top = std::clamp(y - 7.0, 0.0, std::max(0.0, plotHeight - 14.0));
        painter.drawText(QRectF(0, top, axisWidth - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(dB) + QStringLiteral(" dB"));
    }

    const QColor colours[3] = {themeColor(theme.secondary), themeColor(theme.primary), themeColor(theme.accent)};
    for (int band = 0; band < bandCount; ++band) {
        for (int series = 0; series < 3; ++series) {
            painter.fillRect(barRect(band, series), colours[series]);
        }
    }
    painter.setPen(themeColor(theme.textSecondary));
    const double groupWidth = static_cast<double>(std::max(0, width() - axisWidth)) / bandCount;
    for (int band = 0; band < bandCount; ++band) {
        painter.drawText(QRectF(axisWidth + band * groupWidth, height() - labelHeight, groupWidth, labelHeight),
                         Qt::AlignCenter, bandLabel(bandCenterFrequencies[static_cast<size_t>(band)]));
    }
}

} // namespace orvanta
