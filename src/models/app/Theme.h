#pragma once

// Models only (QtCore): colours are 0xAARRGGBB values, turned into QColor by the views.

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

namespace orvanta {

using ThemeColor = quint32; // 0xAARRGGBB

// One colour theme of the window: its id, display name and palette.
struct Theme {
    QString id;
    QString name; // display name
    ThemeColor primary = 0;
    ThemeColor secondary = 0;
    ThemeColor accent = 0;
    ThemeColor background = 0;
    ThemeColor backgroundSecondary = 0;
    ThemeColor cardBackground = 0;
    ThemeColor elementBackground = 0;
    ThemeColor textPrimary = 0;
    ThemeColor textSecondary = 0;
    ThemeColor success = 0;
    ThemeColor warning = 0;
    ThemeColor error = 0;
    ThemeColor info = 0;
    ThemeColor lufsColor = 0;
    ThemeColor rmsColor = 0;
    ThemeColor peakColor = 0;
    ThemeColor stereoColor = 0;

    bool operator==(const Theme&) const = default;
};

// The four themes in display order: "original" "Original", "ocean" "Cyan Blue", "sunset"
// "Black & Gold", "forest" "Emerald Green".
const QList<Theme>& builtInThemes();
// The theme with this id, or nullptr.
const Theme* findTheme(const QString& id);

inline constexpr const char* defaultThemeId = "original";

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::Theme)
