#pragma once

#include "app/ThemedWidget.h"
#include <QMetaObject>
#include <QVector>
#include <QWidget>

namespace orvanta {

class ReferenceTrackManager;

// The 12-band spectra as bars: for every EQ band centre, one bar each for the original, the mastered
// and (when a reference is loaded) the reference levels, on the 0…10 scale, with the scale's band
// level in dB at the left (one level unit is 7 dB; 0 is −20 dB, 10 is +50 dB). Main thread.
class SpectrumBarsView : public ThemedWidget {
    Q_OBJECT

public:
    static constexpr int bandCount = 12;
    static constexpr float maximumLevel = 10.0f;
    static constexpr int axisWidth = 44; // the dB scale at the left

    // The 0…10 level of a band at `dB`, on the reference analysis's scale.
    static double levelOfDecibels(double dB);

    explicit SpectrumBarsView(QWidget* parent = nullptr);

    // Missing values count as 0; values beyond 12 are ignored.
    void setSpectra(const QVector<float>& original, const QVector<float>& mastered, const QVector<float>& reference);
    // Follows the manager's spectra (reference bars only while it holds a profile).
    void bindTo(ReferenceTrackManager& manager);

    // The bar rectangle of band `band` (0…11) for series 0 (original), 1 (mastered) or 2 (reference).
    QRectF barRect(int band, int series) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<float> series_[3];
};

} // namespace orvanta
