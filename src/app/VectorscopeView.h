#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

namespace orvanta {

class VectorscopeSource;

// The half-disc vectorscope: one dot per sample pair of the source, redrawn on every tick. Opens the
// playing file on "VectorscopeURLChanged" and the manager's current file when shown. Main thread.
class VectorscopeView : public QWidget {
    Q_OBJECT

public:
    // `source` may be null (the view then only draws what showSamples gives it); not owned.
    explicit VectorscopeView(VectorscopeSource* source = nullptr, QWidget* parent = nullptr);

    // Draws these samples (channel 0 and 1, −1…1) until the next tick.
    void showSamples(QList<float> left, QList<float> right);
    qsizetype dotCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QPointer<VectorscopeSource> source_;
    QList<float> left_;
    QList<float> right_;
};

} // namespace orvanta
