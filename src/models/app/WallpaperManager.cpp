#include "models/app/WallpaperManager.h"

#include "platform/Error.h"
#include "platform/PreferenceStore.h"

#include <QFile>

namespace orvanta {

namespace {

constexpr const char* wallpaperDomain = "Wallpaper";

enum WallpaperErrorCode : int { notAnImage = 1, unreadableFile = 2, tooLarge = 3 };

bool startsWith(const QByteArray& data, qsizetype offset, const char* bytes, qsizetype length) {
    return data.size() >= offset + length && data.mid(offset, length) == QByteArray(bytes, length);
}

// ISO base media files name their brands after "ftyp": the major brand, a version, then the
// compatible brands up to the end of the box.
std::optional<QString> heifFamilyType(const QByteArray& data) {
    if (!startsWith(data, 4, "ftyp", 4) || data.size() < 16) {
        return std::nullopt;
    }
    const auto boxSize = static_cast<qsizetype>((static_cast<quint8>(data[0]) << 24) | (static_cast<quint8>(data[1]) << 16) |
                                                (static_cast<quint8>(data[2]) << 8) | static_cast<quint8>(data[3]));
    const qsizetype end = std::min(data.size(), std::max<qsizetype>(boxSize, 16));
    bool heif = false;
    for (qsizetype offset = 8; offset + 4 <= end; offset += 4) {
        if (offset == 12) {
            continue; // minor version
        }
        const QByteArray brand = data.mid(offset, 4);
        if (brand == "heic" || brand == "heix" || brand == "hevc" || brand == "hevx" || brand == "heim" ||
            brand == "heis") {
            return QStringLiteral("heic");
        }
        if (brand == "mif1" || brand == "msf1" || brand == "heif") {
            heif = true;
        }
    }
    return heif ? std::optional<QString>(QStringLiteral("heif")) : std::nullopt;
}

} // namespace

std::optional<QString> wallpaperImageType(const QByteArray& data) {
    if (startsWith(data, 0, "\x89PNG\r\n\x1a\n", 8)) {
        return QStringLiteral("png");
    }
    if (startsWith(data, 0, "\xff\xd8\xff", 3)) {
        return QStringLiteral("jpeg");
    }
    if (startsWith(data, 0, "II*\0", 4) || startsWith(data, 0, "MM\0*", 4)) {
        return QStringLiteral("tiff");
    }
    return heifFamilyType(data);
}

WallpaperManager::WallpaperManager(PreferenceStore& store, QObject* parent) : QObject(parent), store_(store) {
    if (const auto stored = store_.dataValue(customWallpaperKey)) {
        QByteArray data(reinterpret_cast<const char*>(stored->data()), static_cast<qsizetype>(stored->size()));
        if (wallpaperImageType(data)) {
            data_ = std::move(data);
        }
    }
}

void WallpaperManager::setWallpaperData(const QByteArray& data) {
    if (data.size() > maximumWallpaperBytes) {
        throw Error(wallpaperDomain, tooLarge, "The image is too large to be used as a wallpaper (at most 20 MB).");
    }
    if (!wallpaperImageType(data)) {
        throw Error(wallpaperDomain, notAnImage,
                    "The file is not a supported image. Please choose a JPEG, PNG, TIFF, HEIC or HEIF image.");
    }
    store_.setData(customWallpaperKey, PreferenceStore::Data(data.begin(), data.end()));
    data_ = data;
    emit wallpaperChanged();
}

void WallpaperManager::setWallpaperFromFile(const std::filesystem::path& file) {
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) {
        throw Error(wallpaperDomain, unreadableFile, "The image file could not be read: " + file.string());
    }
    // One byte beyond the limit is enough to refuse an oversized file without reading all of it.
    setWallpaperData(input.read(maximumWallpaperBytes + 1));
}

void WallpaperManager::clearWallpaper() {
    store_.remove(customWallpaperKey);
    if (!data_.isEmpty()) {
        data_.clear();
        emit wallpaperChanged();
    }
}

} // namespace orvanta
