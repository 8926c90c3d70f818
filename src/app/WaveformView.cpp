#include "app/WaveformView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvanta {
namespace {

constexpr int laneGap = 6;
constexpr int laneHeightHint = 64;
constexpr int reductionHeightHint = 34;
constexpr int reductionHeightMinimum = 24;

double lengthOf(const WaveformView::Overview& overview) { return overview ? overview->durationSeconds : 0.0; }

} // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Waveforms of the original and the processed version"));
    setAccessibleDescription(QStringLiteral("Click or drag to move the playback position"));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize WaveformView::sizeHint() const {
    return {600, 2 * laneHeightHint + laneGap + (hasGainReductionLane() ? reductionHeightHint + laneGap : 0)};
}
QSize WaveformView::minimumSizeHint() const {
    return {200, 2 * 36 + laneGap + (hasGainReductionLane() ? reductionHeightMinimum + laneGap : 0)};
}

void WaveformView::setOverviews(Overview original, Overview processed) {
    original_ = std::move(original);
    processed_ = std::move(processed);
    lanes_ = QPixmap();
    update();
}

void WaveformView::setLaneNames(const QString& original, const QString& processed) {
    originalName_ = original;
    processedName_ = processed;
    lanes_ = QPixmap();
    update();
}

void WaveformView::setGainReduction(Reduction reduction) {
    if (reduction == reduction_) return;
    reduction_ = std::move(reduction);
    lanes_ = QPixmap();
    updateGeometry();
    update();
}

void WaveformView::setReductionColour(QColor reduction) {
    reductionColour_ = reduction;
    lanes_ = QPixmap();
    update();
}

double WaveformView::gainReductionScaleDb() const {
    const double largest = hasGainReductionLane() ? reduction_->maximumDb : 0.0;
    return std::max(3.0, 3.0 * std::ceil(largest / 3.0));
}

QString WaveformView::gainReductionCaption() const {
    if (!hasGainReductionLane()) return {};
    return QString::asprintf("Gain reduction (largest %.1f dB, average %.1f dB)", double(reduction_->maximumDb),
                             double(reduction_->averageDb));
}

void WaveformView::setOriginalEmphasised(bool original) {
    if (original == originalEmphasised_) return;
    originalEmphasised_ = original;
    lanes_ = QPixmap();
    update();
}

void WaveformView::setPlayheadSeconds(double seconds) {
    if (seconds == playheadSeconds_) return;
    playheadSeconds_ = seconds;
    update();
}

double WaveformView::timelineSeconds() const { return std::max(lengthOf(original_), lengthOf(processed_)); }

void WaveformView::setColours(QColor original, QColor processed, QColor text, QColor grid) {
    originalColour_ = original;
    processedColour_ = processed;
    textColour_ = text;
    gridColour_ = grid;
    lanes_ = QPixmap();
    update();
}

double WaveformView::xOfSeconds(double seconds) const {
    const double length = timelineSeconds();
    return length > 0 ? std::clamp(seconds / length, 0.0, 1.0) * width() : 0.0;
}

double WaveformView::secondsAtX(double x) const {
    return width() > 0 ? std::clamp(x / width(), 0.0, 1.0) * timelineSeconds() : 0.0;
}

double WaveformView::reductionLaneHeight() const {
    if (!hasGainReductionLane()) return 0.0;
    return std::clamp(height() * 0.2, double(reductionHeightMinimum), double(reductionHeightHint + 10));
}

QRectF WaveformView::laneRect(int lane) const {
    const double reduction = reductionLaneHeight();
    const double waveforms = height() - (reduction > 0 ? reduction + laneGap : 0.0);
    const double laneHeight = (waveforms - laneGap) / 2.0;
    return {0.0, lane * (laneHeight + laneGap), double(width()), laneHeight};
}

QRectF WaveformView::gainReductionRect() const {
    const double reduction = reductionLaneHeight();
    return {0.0, height() - reduction, double(width()), reduction};
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    lanes_ = QPixmap();
    QWidget::resizeEvent(event);
}

void WaveformView::drawLane(QPainter& painter, const QRectF& rect, const WaveformOverview& overview,
                            QColor colour) const {
    // Each pixel column summarises the overview columns it covers; a shorter version fills only its
    // part of the common time line.
    const double length = timelineSeconds();
    const double span = length > 0 ? rect.width() * overview.durationSeconds / length : rect.width();
    const int pixels = std::max(1, int(std::ceil(span)));
    const size_t columns = overview.columns();
    const double mid = rect.center().y();
    const double half = rect.height() / 2.0;
    QColor light = colour;
    light.setAlphaF(0.45);
    // Plain rectangles, one pair per pixel column: filling them one by one is fast, where one path of
    // thousands of rectangles takes the rasteriser seconds.
    for (int x = 0; x < pixels; ++x) {
        const size_t first = size_t(double(x) / pixels * columns);
        const size_t last = std::max(first + 1, size_t(double(x + 1) / pixels * columns));
        float low = 0, high = 0, level = 0;
        for (size_t column = first; column < std::min(last, columns); ++column) {
            low = std::min(low, overview.lowest[column]);
            high = std::max(high, overview.highest[column]);
            level = std::max(level, overview.rms[column]);
        }
        const int left = int(rect.left()) + x;
        // Whole pixels (the fast fill), at least one high, so that silence still shows where the song is.
        const int peakTop = int(std::floor(mid - high * half));
        const int peakBottom = int(std::ceil(mid - low * half));
        const int rmsTop = int(std::floor(mid - level * half));
        const int rmsBottom = int(std::ceil(mid + level * half));
        painter.fillRect(QRect(left, peakTop, 1, std::max(1, peakBottom - peakTop)), light);
        painter.fillRect(QRect(left, rmsTop, 1, std::max(1, rmsBottom - rmsTop)), colour);
    }
}

void WaveformView::drawReduction(QPainter& painter, const QRectF& rect) const {
    // Each pixel column shows the largest reduction of the buckets it covers, hanging from the top.
    const GainReductionEnvelope& envelope = *reduction_;
    const double length = timelineSeconds();
    const size_t buckets = envelope.reductionDb.size();
    const double songSeconds = double(buckets) * envelope.bucketSeconds;
    const double span = length > 0 ? rect.width() * std::min(1.0, songSeconds / length) : rect.width();
    const int pixels = std::max(1, int(std::ceil(span)));
    const double scale = gainReductionScaleDb();
    for (int x = 0; x < pixels; ++x) {
        const size_t first = size_t(double(x) / pixels * buckets);
        const size_t last = std::max(first + 1, size_t(double(x + 1) / pixels * buckets));
        float deepest = 0.0f;
        for (size_t b = first; b < std::min(last, buckets); ++b) deepest = std::max(deepest, envelope.reductionDb[b]);
        const int depth = int(std::lround(std::min(1.0, deepest / scale) * rect.height()));
        if (depth > 0) painter.fillRect(QRect(int(rect.left()) + x, int(rect.top()), 1, depth), reductionColour_);
    }
}

void WaveformView::renderLanes() {
    const qreal ratio = devicePixelRatioF();
    lanes_ = QPixmap(size() * ratio);
    lanes_.setDevicePixelRatio(ratio);
    lanes_.fill(Qt::transparent);
    QPainter painter(&lanes_);
    const Overview overviews[2] = {original_, processed_};
    const QColor colours[2] = {originalColour_, processedColour_};
    const QString names[2] = {originalName_, processedName_};
    for (int lane = 0; lane < 2; ++lane) {
        const QRectF rect = laneRect(lane);
        const bool emphasised = (lane == 0) == originalEmphasised_;
        QColor background = gridColour_;
        background.setAlphaF(emphasised ? 0.55 : 0.3);
        painter.fillRect(rect, background);
        painter.setPen(QPen(gridColour_.lighter(130), 0));
        painter.drawLine(QPointF(rect.left(), rect.center().y()), QPointF(rect.right(), rect.center().y()));
        if (overviews[lane] && !overviews[lane]->empty()) {
            drawLane(painter, rect, *overviews[lane], colours[lane]);
        }
        QFont font = painter.font();
        font.setBold(emphasised);
        painter.setFont(font);
        painter.setPen(textColour_);
        QString caption = names[lane];
        if (!overviews[lane]) caption += QStringLiteral("  (reading...)");
        const QRectF label = rect.adjusted(6, 3, -6, -3);
        // The caption on a dimmed plate, readable over loud material.
        const QRectF plate = painter.boundingRect(label, Qt::AlignLeft | Qt::AlignTop, caption).adjusted(-3, -1, 3, 1);
        QColor shade = Qt::black;
        shade.setAlphaF(0.45);
        painter.fillRect(plate, shade);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignTop, caption);
    }
    if (!hasGainReductionLane()) return;
    const QRectF rect = gainReductionRect();
    QColor background = gridColour_;
    background.setAlphaF(0.3);
    painter.fillRect(rect, background);
    drawReduction(painter, rect);
    // The captions at the bottom, where the bars that hang from the top reach least.
    const QString scale = QString::asprintf("%.0f dB", -gainReductionScaleDb());
    const QRectF label = rect.adjusted(6, 2, -6, -2);
    QColor shade = Qt::black;
    shade.setAlphaF(0.45);
    QFont font = painter.font();
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(textColour_);
    for (const auto& [text, alignment] : {std::pair{gainReductionCaption(), Qt::AlignLeft | Qt::AlignBottom},
                                          std::pair{scale, Qt::AlignRight | Qt::AlignBottom}}) {
        const QRectF plate = painter.boundingRect(label, alignment, text).adjusted(-3, -1, 3, 1);
        painter.fillRect(plate, shade);
        painter.drawText(label, alignment, text);
    }
}

void WaveformView::paintEvent(QPaintEvent*) {
    if (lanes_.isNull() || lanes_.deviceIndependentSize().toSize() != size() ||
        lanes_.devicePixelRatio() != devicePixelRatioF())
        renderLanes();
    QPainter painter(this);
    painter.drawPixmap(0, 0, lanes_);
    if (timelineSeconds() <= 0) return;
    const double x = xOfSeconds(dragSeconds_.value_or(playheadSeconds_));
    painter.setPen(QPen(textColour_, 2));
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || timelineSeconds() <= 0) return QWidget::mousePressEvent(event);
    emit seekRequested(secondsAtX(event->position().x()));
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || timelineSeconds() <= 0) return QWidget::mouseMoveEvent(event);
    dragSeconds_ = secondsAtX(event->position().x());
    update();
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragSeconds_) return QWidget::mouseReleaseEvent(event);
    const double seconds = secondsAtX(event->position().x());
    dragSeconds_.reset();
    emit seekRequested(seconds);
    update();
}

} // namespace orvanta
