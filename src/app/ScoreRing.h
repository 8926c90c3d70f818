#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace orvanta {

// The overall score as a large whole number inside a ring filled to score/100, in the verdict's colour.
// Main thread.
class ScoreRing : public QWidget {
    Q_OBJECT

public:
    explicit ScoreRing(QWidget* parent = nullptr);

    void setScore(double score, QColor colour);
    void setColours(QColor track, QColor text);
    QString scoreText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double score_ = 0;
    QColor colour_ = QColor(0x3C, 0xC4, 0x7C);
    QColor track_ = QColor(0x32, 0x32, 0x3D);
    QColor text_ = Qt::white;
};

} // namespace orvanta
