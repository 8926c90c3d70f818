#include "app/EqCurveView.h"

#include "eq/EQResponse.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace orvanta {
namespace {

constexpr double lowestHz = 20.0;
constexpr double highestHz = 20000.0;
constexpr int curvePoints = 160;
constexpr int titleHeight = 16;
constexpr int dbCaptionWidth = 26;
constexpr int frequencyCaptionHeight = 13;

QString frequencyCaption(double hz) { return hz >= 1000 ? QString::number(hz / 1000) + 'k' : QString::number(hz); }

} // namespace

EqCurveView::EqCurveView(QString title, QWidget* parent) : QWidget(parent), title_(std::move(title)) {
    setAccessibleName(title_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize EqCurveView::sizeHint() const { return {280, 110}; }
QSize EqCurveView::minimumSizeHint() const { return {160, 84}; }

void EqCurveView::setSettings(const std::optional<EQSettings>& settings) {
    if (settings == settings_ && settings.has_value() == settings_.has_value()) return;
    settings_ = settings;
    curve_.clear();
    scaleDb_ = 6.0;
    if (settings_) {
        double largest = 0.0;
        for (double hz : logFrequencies(lowestHz, highestHz, curvePoints)) {
            const double db = eqResponseDb(*settings_, hz);
            curve_.emplace_back(hz, db);
            largest = std::max(largest, std::fabs(db));
        }
        scaleDb_ = std::max(6.0, 3.0 * std::ceil(largest / 3.0));
    }
    update();
}

void EqCurveView::setColours(QColor curve, QColor text, QColor grid) {
    curveColour_ = curve;
    textColour_ = text;
    gridColour_ = grid;
    update();
}

QRectF EqCurveView::plotRect() const {
    return QRectF(dbCaptionWidth, titleHeight, std::max(0, width() - dbCaptionWidth - 6),
                  std::max(0, height() - titleHeight - frequencyCaptionHeight));
}

void EqCurveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(textColour_);
    painter.drawText(QRect(0, 0, width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title_);

    const QRectF plot = plotRect();
    QColor fill = gridColour_;
    fill.setAlphaF(0.45);
    painter.fillRect(plot, fill);
    const auto xOf = [&](double hz) {
        return plot.left() + plot.width() * std::log(hz / lowestHz) / std::log(highestHz / lowestHz);
    };
    const auto yOf = [&](double db) { return plot.center().y() - db / scaleDb_ * plot.height() / 2.0; };

    font.setPixelSize(9);
    painter.setFont(font);
    painter.setPen(QPen(gridColour_.lighter(150), 0));
    for (double hz : {100.0, 1000.0, 10000.0}) painter.drawLine(QPointF(xOf(hz), plot.top()), QPointF(xOf(hz), plot.bottom()));
    painter.drawLine(QPointF(plot.left(), yOf(0)), QPointF(plot.right(), yOf(0)));
    painter.setPen(textColour_);
    for (double hz : {100.0, 1000.0, 10000.0}) {
        painter.drawText(QRectF(xOf(hz) - 20, plot.bottom(), 40, frequencyCaptionHeight), Qt::AlignCenter,
                         frequencyCaption(hz));
    }
    for (double db : {scaleDb_, 0.0, -scaleDb_}) {
        const double y = std::clamp(yOf(db), plot.top() + 5, plot.bottom() - 5);
        painter.drawText(QRectF(0, y - 6, dbCaptionWidth - 3, 12), Qt::AlignRight | Qt::AlignVCenter,
                         QString::asprintf("%+.0f", db).replace(QStringLiteral("+0"), QStringLiteral("0")));
    }

    if (curve_.empty()) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No EQ"));
        return;
    }
    QPainterPath path;
    for (size_t i = 0; i < curve_.size(); ++i) {
        const QPointF point(xOf(curve_[i].x()), yOf(curve_[i].y()));
        if (i == 0) path.moveTo(point);
        else path.lineTo(point);
    }
    painter.setClipRect(plot);
    painter.setPen(QPen(curveColour_, 2));
    painter.drawPath(path);
}

} // namespace orvanta
