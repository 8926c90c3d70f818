#pragma once

#include "models/app/Theme.h"

#include <QColor>

namespace orvanta {

// A palette colour of a theme as a QColor.
inline QColor themeColor(ThemeColor argb) { return QColor::fromRgba(argb); }

} // namespace orvanta
