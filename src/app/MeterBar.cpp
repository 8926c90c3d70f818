#include "app/MeterBar.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvanta {
namespace {

constexpr int labelWidth = 74;
constexpr int valueWidth = 84;
constexpr int barHeight = 8;

QString percent(double fraction) {
    return QString::number(std::lround(fraction * 100.0)) + QStringLiteral("%");
}

} // namespace

MeterBar::MeterBar(QString label, QWidget* parent) : QWidget(parent), label_(std::move(label)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(label_);
}

QSize MeterBar::sizeHint() const { return {280, std::max(20, fontMetrics().height() + 4)}; }
QSize MeterBar::minimumSizeHint() const { return {labelWidth + valueWidth + 60, sizeHint().height()}; }

void MeterBar::setValue(double fraction, std::optional<double> baseline) {
    value_ = std::isfinite(fraction) ? fraction : 0.0;
    baseline_ = baseline && std::isfinite(*baseline) ? baseline : std::nullopt;
    setAccessibleDescription(valueText());
    setToolTip(baseline_ ? label_ + QStringLiteral(": ") + percent(value_) + QStringLiteral(", before ") +
                               percent(*baseline_)
                         : label_ + QStringLiteral(": ") + percent(value_));
    update();
}

void MeterBar::setColours(QColor fill, QColor track, QColor marker, QColor text) {
    fill_ = fill;
    track_ = track;
    marker_ = marker;
    text_ = text;
    update();
}

QString MeterBar::valueText() const {
    QString text = percent(value_);
    if (baseline_) text += QStringLiteral(" (") + percent(*baseline_) + QStringLiteral(")");
    return text;
}

QRectF MeterBar::trackRect() const {
    const double width = std::max(0, this->width() - labelWidth - valueWidth);
    return {double(labelWidth), (height() - barHeight) / 2.0, width, double(barHeight)};
}

double MeterBar::xOfFraction(double fraction) const {
    const QRectF track = trackRect();
    return track.left() + std::clamp(fraction, 0.0, 1.0) * track.width();
}

void MeterBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(text_);
    painter.drawText(QRectF(0, 0, labelWidth - 6, height()), Qt::AlignLeft | Qt::AlignVCenter, label_);
    painter.drawText(QRectF(width() - valueWidth, 0, valueWidth, height()), Qt::AlignRight | Qt::AlignVCenter,
                     valueText());

    const QRectF track = trackRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(track_);
    painter.drawRoundedRect(track, barHeight / 2.0, barHeight / 2.0);
    QRectF filled = track;
    filled.setRight(xOfFraction(value_));
    painter.setBrush(fill_);
    if (filled.width() > 0) painter.drawRoundedRect(filled, barHeight / 2.0, barHeight / 2.0);
    if (baseline_) {
        // The baseline as a tick across the bar: where the original stood.
        const double x = xOfFraction(*baseline_);
        painter.setPen(QPen(marker_, 2));
        painter.drawLine(QPointF(x, track.top() - 4), QPointF(x, track.bottom() + 4));
    }
}

} // namespace orvanta
