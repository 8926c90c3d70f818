#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "app/ThemedWidget.h"

#include <QImage>
#include <QWidget>

namespace orvanta {

// The analyzer's spectrogram as a false-colour image (time left to right, low frequencies at the
// bottom) with its time caption and frequency captions; 175 pixels high. Main thread.
class SpectrogramView : public ThemedWidget {
    Q_OBJECT

public:
    static constexpr int viewHeight = 175;
    static constexpr int captionWidth = 34;  // left margin of the frequency captions
    static constexpr int captionHeight = 16; // bottom margin of the time caption

    explicit SpectrogramView(QWidget* parent = nullptr);

    // Renders the image once for these data; empty data draw only the background.
    void setData(const SpectrogramData& data);
    const QImage& image() const { return image_; }
    // The rectangle the image is drawn into.
    QRect imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SpectrogramData data_;
    QImage image_;
    QImage scaled_; // image_ at the size of imageRect()
};

} // namespace orvanta
