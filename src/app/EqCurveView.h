#pragma once

#include "eq/EQSettings.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace orvanta {

// An EQ as the curve of its level change over 20 Hz…20 kHz (log axis) around a 0 dB line, with
// frequency and dB captions and a title. The scale grows from ±6 dB in 3 dB steps to fit the curve.
// Serves the matched EQ of a reference pass and the analyzer plan's correction. Main thread.
class EqCurveView : public QWidget {
    Q_OBJECT

public:
    explicit EqCurveView(QString title, QWidget* parent = nullptr);

    // None leaves the frame with a note.
    void setSettings(const std::optional<EQSettings>& settings);
    const std::optional<EQSettings>& settings() const { return settings_; }
    void setColours(QColor curve, QColor text, QColor grid);

    // The curve's points as (Hz, dB), and the ± dB the frame spans.
    const std::vector<QPointF>& curve() const { return curve_; }
    double scaleDb() const { return scaleDb_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF plotRect() const;

    QString title_;
    std::optional<EQSettings> settings_;
    std::vector<QPointF> curve_;
    double scaleDb_ = 6.0;
    QColor curveColour_ = QColor(0xE8, 0x55, 0x3A);
    QColor textColour_ = Qt::white;
    QColor gridColour_ = QColor(0x32, 0x32, 0x3D);
};

} // namespace orvanta
