#pragma once

// Models only (QtCore).

#include <QByteArray>
#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>

namespace orvanta {

class PreferenceStore;

inline constexpr const char* customWallpaperKey = "Orvanta_customWallpaper";
inline constexpr qsizetype maximumWallpaperBytes = 20 * 1024 * 1024;

// The image type of encoded image data, recognised from its leading bytes: "jpeg", "png", "tiff",
// "heic" or "heif"; nothing for any other data. Pure; any thread.
std::optional<QString> wallpaperImageType(const QByteArray& data);

// The window's custom background image, kept as data under "Orvanta_customWallpaper". Only JPEG, PNG,
// TIFF, HEIC and HEIF data is accepted, so what is stored is always an image. Main thread only.
class WallpaperManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasWallpaper READ hasWallpaper NOTIFY wallpaperChanged)
    Q_PROPERTY(QByteArray wallpaperData READ wallpaperData NOTIFY wallpaperChanged)

public:
    // Reads the stored image; stored data that is not an accepted image is ignored (and left stored).
    // The store must outlive the manager.
    explicit WallpaperManager(PreferenceStore& store, QObject* parent = nullptr);

    bool hasWallpaper() const { return !data_.isEmpty(); }
    QByteArray wallpaperData() const { return data_; } // encoded image, empty without a wallpaper

    // Stores and publishes the image. Throws Error (domain "Wallpaper") for empty, oversized or
    // non-image data; the previous wallpaper is then kept.
    void setWallpaperData(const QByteArray& data);
    // Reads the image file and stores it as above; the file itself is never changed. Throws Error
    // (domain "Wallpaper") when it cannot be read or is not an accepted image.
    void setWallpaperFromFile(const std::filesystem::path& file);
    // Removes the stored image.
    void clearWallpaper();

signals:
    void wallpaperChanged();

private:
    PreferenceStore& store_;
    QByteArray data_;
};

} // namespace orvanta
