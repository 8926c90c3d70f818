#pragma once

#include "app/ThemedWidget.h"
#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace orvanta {

class VectorscopeSource;

// The half-disc vectorscope: one dot per sample pair of the source, redrawn on every tick, with the
// stereo correlation of the frame (+1 mono, 0 wide, −1 out of phase). When playback stops the source
// empties its lists; the view then keeps the last frame, dimmed, with its correlation, and before
// anything has played it shows a hint instead. Opens the playing file on "VectorscopeURLChanged" and
// the manager's current file when shown. Main thread.
class VectorscopeView : public ThemedWidget {
    Q_OBJECT

public:
    // `source` may be null (the view then only draws what showSamples gives it); not owned.
    explicit VectorscopeView(VectorscopeSource* source = nullptr, QWidget* parent = nullptr);

    // Draws these samples (channel 0 and 1, −1…1) until the next tick.
    void showSamples(QList<float> left, QList<float> right);
    qsizetype dotCount() const;
    // The last frame is shown dimmed because playback stopped.
    bool isHoldingLastFrame() const { return holding_; }
    // The correlation shown, or none before a frame with sound.
    std::optional<double> correlation() const { return correlation_; }

    // Σ L·R ÷ √(Σ L² · Σ R²) over the pairs; none when either channel is silent.
    static std::optional<double> stereoCorrelation(const QList<float>& left, const QList<float>& right);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QPointer<VectorscopeSource> source_;
    QList<float> left_;
    QList<float> right_;
    bool holding_ = false;
    std::optional<double> correlation_;
};

} // namespace orvanta
