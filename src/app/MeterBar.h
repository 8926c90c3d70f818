#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

namespace orvanta {

// One labelled horizontal bar for a 0…1 figure: the label, the filled track, a marker at the baseline
// value when there is one, and the figure as a whole percentage (the baseline's in brackets beside it).
// Main thread.
class MeterBar : public QWidget {
    Q_OBJECT

public:
    explicit MeterBar(QString label, QWidget* parent = nullptr);

    void setValue(double fraction, std::optional<double> baseline = std::nullopt);
    void setColours(QColor fill, QColor track, QColor marker, QColor text);

    const QString& label() const { return label_; }
    double value() const { return value_; }
    const std::optional<double>& baseline() const { return baseline_; }
    // "41%", or "41% (30%)" with a baseline.
    QString valueText() const;
    // The track's rectangle and the x of a fraction on it.
    QRectF trackRect() const;
    double xOfFraction(double fraction) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString label_;
    double value_ = 0;
    std::optional<double> baseline_;
    QColor fill_ = QColor(0xE8, 0x55, 0x3A);
    QColor track_ = QColor(0x32, 0x32, 0x3D);
    QColor marker_ = Qt::white;
    QColor text_ = Qt::white;
};

} // namespace orvanta
