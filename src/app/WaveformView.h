#pragma once

#include "engine/GainReductionEnvelope.h"
#include "models/app/WaveformOverview.h"

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

namespace orvanta {

// The original and the processed version one above the other on the same linear amplitude scale
// (peaks light, RMS solid), so that the loudness change is seen at a glance, and under them, when
// given, the limiter's gain reduction of the master hanging from the top of its lane,
// with a playhead across all. A click
// asks to seek to the time under the pointer; a drag moves the playhead and seeks where it is let go,
// so that playback is not restarted for every pixel. Main thread.
class WaveformView : public QWidget {
    Q_OBJECT

public:
    using Overview = std::shared_ptr<const WaveformOverview>;
    using Reduction = std::shared_ptr<const GainReductionEnvelope>;

    explicit WaveformView(QWidget* parent = nullptr);

    // Either may be null (not read yet, or unreadable): its lane shows a note instead.
    void setOverviews(Overview original, Overview processed);
    void setLaneNames(const QString& original, const QString& processed);
    // The gain reduction of the pass that made the master; null or empty: no lane.
    void setGainReduction(Reduction reduction);
    bool hasGainReductionLane() const { return reduction_ && !reduction_->empty(); }
    QRectF gainReductionRect() const;
    // The reduction the lane's full depth stands for, dB: the largest, rounded up to 3 dB steps (≥ 3).
    double gainReductionScaleDb() const;
    QString gainReductionCaption() const;
    // The lane of the version heard (or chosen) is emphasised.
    void setOriginalEmphasised(bool original);
    void setPlayheadSeconds(double seconds);
    // The length of the time line in seconds (the longer version when they differ).
    double timelineSeconds() const;
    void setColours(QColor original, QColor processed, QColor text, QColor grid);
    void setReductionColour(QColor reduction);

    // The x coordinate of a time, and the time of an x coordinate (widget coordinates).
    double xOfSeconds(double seconds) const;
    double secondsAtX(double x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF laneRect(int lane) const;
    void renderLanes();
    void drawLane(QPainter& painter, const QRectF& rect, const WaveformOverview& overview, QColor colour) const;
    void drawReduction(QPainter& painter, const QRectF& rect) const;
    double reductionLaneHeight() const;

    Overview original_;
    Overview processed_;
    Reduction reduction_;
    QString originalName_ = QStringLiteral("Original");
    QString processedName_ = QStringLiteral("Processed");
    bool originalEmphasised_ = false;
    double playheadSeconds_ = 0;
    std::optional<double> dragSeconds_; // where a drag would seek to; the playhead shows it meanwhile
    QColor originalColour_ = QColor(0x3A, 0x7B, 0xE8);
    QColor processedColour_ = QColor(0xE8, 0x55, 0x3A);
    QColor textColour_ = Qt::white;
    QColor gridColour_ = QColor(0x32, 0x32, 0x3D);
    QColor reductionColour_ = QColor(0xF2, 0xB1, 0x34);
    QPixmap lanes_; // the drawn overviews, redrawn when the size, the data or the colours change
};

} // namespace orvanta
