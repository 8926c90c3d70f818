#pragma once

#include "models/app/Theme.h"

#include <QColor>

#include <algorithm>
#include <cmath>

namespace orvanta {

// A palette colour of a theme as a QColor.
inline QColor themeColor(ThemeColor argb) { return QColor::fromRgba(argb); }

// Distance between two colours' hues around the colour wheel, degrees (0…180).
inline double hueDistance(QColor a, QColor b) {
    const double difference = std::fabs(a.hsvHueF() - b.hsvHueF()) * 360.0;
    return std::min(difference, 360.0 - difference);
}

// The colour of the limiter's gain-reduction lane, drawn beside the master's waveform (the theme's
// primary colour): the warning colour, unless its hue is too near the waveform's to tell the two
// apart (Black & Gold's amber beside its gold), then the error colour.
inline QColor gainReductionColour(const Theme& theme) {
    constexpr double nearestDistinctHue = 20.0;
    const QColor warning = themeColor(theme.warning);
    return hueDistance(warning, themeColor(theme.primary)) >= nearestDistinctHue ? warning : themeColor(theme.error);
}

} // namespace orvanta
