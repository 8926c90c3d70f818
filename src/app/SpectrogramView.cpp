#include "app/SpectrogramView.h"

#include "analyzer/Spectrogram.h"
#include "app/ThemeColors.h"
#include "models/engine/HandOver.h"
#include "models/engine/MainThread.h"

#include <QPainter>
#include <QPointer>

#include <algorithm>

namespace orvanta {

namespace {

// Rows kept for drawing: the view is 175 points high, so 512 rows serve a device-pixel ratio of 2 with
// room to spare, and scaling them to the view on a paint is quick.
constexpr int drawnRows = 512;

// The pixels of an image, fewer rows of them where there are more than drawnRows, in a format the painter
// scales quickly; always a copy. Any thread.
QImage forDrawing(const SpectrogramImage& rendered) {
    const QImage full(rendered.rgba.data(), rendered.width, rendered.height, rendered.width * 4, QImage::Format_RGBA8888);
    const QImage fewer = full.height() > drawnRows
                             ? full.scaled(full.width(), drawnRows, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                             : full.copy();
    return fewer.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

SpectrogramView::SpectrogramView(QThreadPool& pool, QWidget* parent) : ThemedWidget(parent), pool_(pool) {
    setFixedHeight(viewHeight);
    setMinimumWidth(160);
    setAccessibleName(QStringLiteral("Spectrogram"));
}

SpectrogramView::Fingerprint SpectrogramView::fingerprintOf(const SpectrogramData& data) {
    Fingerprint print;
    print.columns = data.magnitudes.size();
    print.rows = data.frequencyBins.size();
    print.minDB = data.minDB;
    print.maxDB = data.maxDB;
    print.lastTime = data.timeBins.empty() ? 0.0 : data.timeBins.back();
    if (!data.magnitudes.empty()) print.lastColumn = data.magnitudes.back();
    return print;
}

bool SpectrogramView::adopt(const SpectrogramData& data) {
    Fingerprint print = fingerprintOf(data);
    if (shown_ && *shown_ == print) return false;
    shown_ = std::move(print);
    timeCaption_ = QString::fromStdString(spectrogramTimeCaption(data));
    frequencyCaptions_.clear();
    for (const FrequencyCaption& caption : spectrogramFrequencyCaptions(data))
        frequencyCaptions_.emplace_back(caption.frequency, QString::fromStdString(caption.text));
    image_ = QImage();
    scaled_ = QImage();
    ++run_;
    rendering_ = false;
    update();
    return true;
}

void SpectrogramView::setImage(const SpectrogramData& data, std::shared_ptr<const SpectrogramImage> image) {
    if (!adopt(data)) return;
    if (!image || image->isEmpty()) {
        emit imageReady();
        return;
    }
    // Even a rendered image is reduced for drawing on the pool: it has a row per frequency bin.
    showWhenReady(runOnPool(pool_, [image = std::move(image)] { return forDrawing(*image); }));
}

void SpectrogramView::showWhenReady(QFuture<QImage> image) {
    const int run = run_;
    rendering_ = true;
    thenOnMainThread(image, this, [self = QPointer<SpectrogramView>(this), run](QImage drawn) {
        if (!self || run != self->run_) return;
        self->image_ = std::move(drawn);
        self->scaled_ = QImage();
        self->rendering_ = false;
        self->update();
        emit self->imageReady();
    });
}

void SpectrogramView::setData(const SpectrogramData& data) {
    if (!adopt(data)) return;
    if (data.timeBins.empty() || data.frequencyBins.empty() || data.magnitudes.empty()) {
        emit imageReady();
        return;
    }
    // The pixels of a grid of a few megabytes are worked out on the pool, from a copy of it.
    showWhenReady(runOnPool(pool_, [data] {
        const SpectrogramImage rendered = renderSpectrogramImage(data);
        return rendered.isEmpty() ? QImage() : forDrawing(rendered);
    }));
}

QRect SpectrogramView::imageRect() const {
    return QRect(captionWidth, 0, std::max(0, width() - captionWidth), std::max(0, height() - captionHeight));
}

void SpectrogramView::paintEvent(QPaintEvent*) {
    const Theme& theme = this->theme();
    QPainter painter(this);
    painter.fillRect(rect(), themeColor(theme.cardBackground));
    const QRect target = imageRect();
    painter.fillRect(target, themeColor(theme.elementBackground));
    if (image_.isNull()) {
        return;
    }
    // The image keeps up to 512 rows and a column per analysed frame; scaling it on every paint would
    // stall the window, so it is scaled once per size.
    if (scaled_.size() != target.size()) {
        scaled_ = image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    painter.drawImage(target.topLeft(), scaled_);

    QFont font = painter.font();
    font.setPixelSize(9);
    painter.setFont(font);
    painter.setPen(themeColor(theme.textSecondary));
    painter.drawText(QRect(captionWidth, target.bottom() + 1, target.width(), captionHeight),
                     Qt::AlignRight | Qt::AlignVCenter, timeCaption_);
    const auto& captions = frequencyCaptions_;
    if (captions.size() < 2) {
        return;
    }
    const double low = captions.front().first;
    const double span = captions.back().first - low;
    for (const auto& [frequency, text] : captions) {
        const double fraction = span > 0 ? (frequency - low) / span : 0.0;
        const int y = target.bottom() - static_cast<int>(fraction * target.height());
        // The top and bottom captions stay inside the view instead of being cut in half.
        const int top = std::clamp(y - 6, 0, std::max(0, target.bottom() - 11));
        painter.drawText(QRect(0, top, captionWidth - 3, 12), Qt::AlignRight | Qt::AlignVCenter, text);
    }
}

} // namespace orvanta
