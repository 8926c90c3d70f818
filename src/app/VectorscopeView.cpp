#include "app/VectorscopeView.h"

#include "app/ThemeColors.h"
#include "models/playback/VectorscopeSource.h"
#include "playback/VectorscopeGeometry.h"

#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <span>

namespace orvanta {

VectorscopeView::VectorscopeView(VectorscopeSource* source, QWidget* parent) : ThemedWidget(parent), source_(source) {
    setMinimumSize(160, 90);
    setAccessibleName(QStringLiteral("Vectorscope of the playing version"));
    if (source_) {
        connect(source_, &VectorscopeSource::samplesChanged, this, [this] {
            // An emptied source (playback paused or stopped) leaves the last frame on screen.
            if (source_->leftSamples().isEmpty() && !left_.isEmpty()) {
                holding_ = true;
                update();
                return;
            }
            showSamples(source_->leftSamples(), source_->rightSamples());
        });
    }
}

void VectorscopeView::showSamples(QList<float> left, QList<float> right) {
    left_ = std::move(left);
    right_ = std::move(right);
    holding_ = false;
    if (const auto correlation = stereoCorrelation(left_, right_)) correlation_ = correlation;
    else if (left_.isEmpty()) correlation_.reset();
    update();
}

std::optional<double> VectorscopeView::stereoCorrelation(const QList<float>& left, const QList<float>& right) {
    double product = 0, leftEnergy = 0, rightEnergy = 0;
    const qsizetype count = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        product += double(left[i]) * right[i];
        leftEnergy += double(left[i]) * left[i];
        rightEnergy += double(right[i]) * right[i];
    }
    const double scale = std::sqrt(leftEnergy * rightEnergy);
    if (!(scale > 1e-12)) return std::nullopt;
    return std::clamp(product / scale, -1.0, 1.0);
}

qsizetype VectorscopeView::dotCount() const { return std::min(left_.size(), right_.size()); }

void VectorscopeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (source_) {
        source_->appear();
    }
}

void VectorscopeView::paintEvent(QPaintEvent*) {
    const Theme& theme = this->theme();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), themeColor(theme.cardBackground));

    const double w = width();
    const double h = height();
    const double radius = std::min(w * 0.5, h) * 0.88;
    const QPointF centre(w * 0.5, h);
    QColor grid = themeColor(theme.textSecondary);
    grid.setAlpha(70);
    painter.setPen(QPen(grid, 1));
    for (double fraction : {0.5, 1.0}) {
        painter.drawEllipse(centre, radius * fraction, radius * fraction);
    }
    painter.drawLine(centre, centre + QPointF(0, -radius));
    painter.drawLine(centre + QPointF(-radius, 0), centre + QPointF(radius, 0));

    // The figure, top left; a hint before anything has played.
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(themeColor(theme.textSecondary));
    if (left_.isEmpty()) {
        painter.drawText(rect().adjusted(8, 6, -8, -6), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                         QStringLiteral("Nothing has played yet"));
    } else if (correlation_) {
        QString text = QString::asprintf("Correlation %+.2f", *correlation_);
        if (holding_) text += QStringLiteral("  (last frame)");
        painter.drawText(rect().adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignTop, text);
    }

    const auto dots = vectorscopeDots(std::span<const float>(left_.constData(), static_cast<size_t>(left_.size())),
                                      std::span<const float>(right_.constData(), static_cast<size_t>(right_.size())), w, h);
    if (dots.empty()) {
        return;
    }
    QPainterPath path;
    for (const VectorscopeDot& dot : dots) {
        path.addEllipse(QPointF(dot.x, dot.y), dot.diameter * 0.5, dot.diameter * 0.5);
    }
    painter.setPen(Qt::NoPen);
    QColor dotColour = themeColor(theme.stereoColor);
    if (holding_) dotColour.setAlphaF(0.5);
    painter.setBrush(dotColour);
    painter.drawPath(path);
}

} // namespace orvanta
