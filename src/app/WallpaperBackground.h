#pragma once

#include "app/ThemedWidget.h"
#include <QImage>
#include <QWidget>

namespace orvanta {

class WallpaperManager;

// The window's backdrop: the custom wallpaper scaled to cover the widget (cropped, centred), dimmed so
// that text on it stays readable, or the theme's background colours without a wallpaper. Main thread.
class WallpaperBackground : public ThemedWidget {
    Q_OBJECT

public:
    explicit WallpaperBackground(WallpaperManager& wallpaper, QWidget* parent = nullptr);

    bool hasImage() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void reload();

    WallpaperManager& wallpaper_;
    QImage image_;
};

} // namespace orvanta
