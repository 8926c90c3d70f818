#include "app/SpectrogramView.h"

#include "analyzer/Spectrogram.h"
#include "app/ThemeColors.h"

#include <QPainter>

#include <algorithm>

namespace orvanta {

SpectrogramView::SpectrogramView(QWidget* parent) : ThemedWidget(parent) {
    setFixedHeight(viewHeight);
    setMinimumWidth(160);
    setAccessibleName(QStringLiteral("Spectrogram"));
}

void SpectrogramView::setData(const SpectrogramData& data) {
    if (data == data_ && (!image_.isNull() || data.timeBins.empty())) {
        return;
    }
    data_ = data;
    const SpectrogramImage rendered = renderSpectrogramImage(data_);
    if (rendered.isEmpty()) {
        image_ = QImage();
    } else {
        // Copy: the rendered pixels are freed when this function returns.
        image_ = QImage(rendered.rgba.data(), rendered.width, rendered.height, rendered.width * 4,
                        QImage::Format_RGBA8888)
                     .copy();
    }
    scaled_ = QImage();
    update();
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
    // The full image has 2048 rows and a column per analysed frame; scaling it on every paint would
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
                     Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(spectrogramTimeCaption(data_)));
    const auto captions = spectrogramFrequencyCaptions(data_);
    if (captions.size() < 2) {
        return;
    }
    const double low = captions.front().frequency;
    const double span = captions.back().frequency - low;
    for (const FrequencyCaption& caption : captions) {
        const double fraction = span > 0 ? (caption.frequency - low) / span : 0.0;
        const int y = target.bottom() - static_cast<int>(fraction * target.height());
        // The top and bottom captions stay inside the view instead of being cut in half.
        const int top = std::clamp(y - 6, 0, std::max(0, target.bottom() - 11));
        painter.drawText(QRect(0, top, captionWidth - 3, 12), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(caption.text));
    }
}

} // namespace orvanta
