#include "app/WallpaperBackground.h"

#include "app/ThemeColors.h"
#include "models/app/WallpaperManager.h"

#include <QLinearGradient>
#include <QPainter>

namespace orvanta {

WallpaperBackground::WallpaperBackground(WallpaperManager& wallpaper, QWidget* parent)
    : ThemedWidget(parent), wallpaper_(wallpaper) {
    setAttribute(Qt::WA_StyledBackground, false);
    connect(&wallpaper_, &WallpaperManager::wallpaperChanged, this, &WallpaperBackground::reload);
    reload();
}

void WallpaperBackground::reload() {
    // Data Qt cannot decode (HEIC without a plug-in) draws the theme's background instead.
    image_ = wallpaper_.hasWallpaper() ? QImage::fromData(wallpaper_.wallpaperData()) : QImage();
    update();
}

void WallpaperBackground::paintEvent(QPaintEvent*) {
    const Theme& theme = this->theme();
    QPainter painter(this);
    if (image_.isNull()) {
        QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
        gradient.setColorAt(0.0, themeColor(theme.background));
        gradient.setColorAt(1.0, themeColor(theme.backgroundSecondary));
        painter.fillRect(rect(), gradient);
        return;
    }
    const QSize covered = image_.size().scaled(size(), Qt::KeepAspectRatioByExpanding);
    const QRect target(QPoint((width() - covered.width()) / 2, (height() - covered.height()) / 2), covered);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
    QColor veil = themeColor(theme.background);
    veil.setAlpha(170);
    painter.fillRect(rect(), veil);
}

} // namespace orvanta
