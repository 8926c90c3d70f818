#include "app/ScoreRing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvanta {

ScoreRing::ScoreRing(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("Overall score"));
}

QSize ScoreRing::sizeHint() const { return {104, 104}; }

void ScoreRing::setScore(double score, QColor colour) {
    score_ = std::isfinite(score) ? score : 0.0;
    colour_ = colour;
    setAccessibleDescription(scoreText());
    update();
}

void ScoreRing::setColours(QColor track, QColor text) {
    track_ = track;
    text_ = text;
    update();
}

QString ScoreRing::scoreText() const { return QString::number(std::lround(score_)); }

void ScoreRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    constexpr double thickness = 9;
    const double side = std::min(width(), height()) - thickness;
    const QRectF ring((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(QPen(track_, thickness, Qt::SolidLine, Qt::FlatCap));
    painter.drawEllipse(ring);
    // Qt's angles are sixteenths of a degree, counter-clockwise from three o'clock: start at twelve
    // and run clockwise.
    const int span = -int(std::lround(std::clamp(score_, 0.0, 100.0) / 100.0 * 360.0 * 16.0));
    painter.setPen(QPen(colour_, thickness, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, 90 * 16, span);
    QFont font = painter.font();
    font.setPixelSize(int(side * 0.42));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(text_);
    painter.drawText(ring, Qt::AlignCenter, scoreText());
}

} // namespace orvanta
