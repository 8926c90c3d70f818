#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/Spectrogram.h"
#include "app/ThemedWidget.h"

#include <QFuture>
#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QThreadPool;

namespace orvanta {

// The analyzer's spectrogram as a false-colour image (time left to right, low frequencies at the
// bottom) with its time caption and frequency captions; 175 pixels high. The image comes rendered
// (setImage) or is rendered on the background pool and shown when it arrives through the event loop
// (setData); the view keeps only the captions of its data. Main thread.
class SpectrogramView : public ThemedWidget {
    Q_OBJECT

public:
    static constexpr int viewHeight = 175;
    static constexpr int captionWidth = 34;  // left margin of the frequency captions
    static constexpr int captionHeight = 16; // bottom margin of the time caption

    // Images are drawn on `pool`.
    explicit SpectrogramView(QThreadPool& pool, QWidget* parent = nullptr);

    // Starts rendering the image for these data unless they are the ones shown (or being rendered);
    // empty data draw only the background.
    void setData(const SpectrogramData& data);
    const QImage& image() const { return image_; }
    // Shows `image`, rendered from these data elsewhere, without copying the data; the image is reduced
    // for drawing on the background pool.
    void setImage(const SpectrogramData& data, std::shared_ptr<const SpectrogramImage> image);
    // An image is being rendered for the latest data.
    bool isRendering() const { return rendering_; }
    // The rectangle the image is drawn into.
    QRect imageRect() const;

signals:
    // The image of the latest data has arrived (or the data were empty).
    void imageReady();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What tells one grid from another without keeping it: its shape, range and last column.
    struct Fingerprint {
        size_t columns = 0;
        size_t rows = 0;
        float minDB = 0, maxDB = 0;
        double lastTime = 0;
        std::vector<float> lastColumn;
        bool operator==(const Fingerprint&) const = default;
    };
    static Fingerprint fingerprintOf(const SpectrogramData& data);
    // Shows the image when it arrives, unless newer data have come meanwhile.
    void showWhenReady(QFuture<QImage> image);
    // Takes the captions of new data and drops the image; false when the data are the ones shown.
    bool adopt(const SpectrogramData& data);

    std::optional<Fingerprint> shown_; // the data of image_, or of the image being rendered
    QString timeCaption_;
    QThreadPool& pool_;
    std::vector<std::pair<double, QString>> frequencyCaptions_; // Hz, text
    int run_ = 0;                     // the latest render started; an older one's image is dropped
    bool rendering_ = false;
    QImage image_;
    QImage scaled_; // image_ at the size of imageRect()
};

} // namespace orvanta
