#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvanta {

class ResultTransport;

// The result screen's transport controls: play/pause, the A/B switch between original and processed,
// and the time elapsed and total. Shows and drives the transport it is given. Main thread.
class TransportBar : public QWidget {
    Q_OBJECT

public:
    explicit TransportBar(ResultTransport& transport, QWidget* parent = nullptr);

    QPushButton* playPauseButton() const { return playPause_; }
    QPushButton* originalButton() const { return original_; }
    QPushButton* processedButton() const { return processed_; }
    QString timeText() const;
    // "Master" or "Final": the name of the processed version on its switch.
    void setProcessedName(const QString& name);

    // "m:ss" (or "h:mm:ss" from one hour), rounded down to the second.
    static QString clockText(double seconds);

private:
    void refresh();

    ResultTransport& transport_;
    QPushButton* playPause_;
    QPushButton* original_;
    QPushButton* processed_;
    QLabel* time_;
};

} // namespace orvanta
