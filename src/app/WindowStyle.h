#pragma once

#include "models/app/Theme.h"

#include <QString>

namespace orvanta {

// The window's style sheet for a theme: text colours, translucent cards, buttons with the accent as
// the primary action, progress bars and lists. Pure; any thread.
QString windowStyleSheet(const Theme& theme);

} // namespace orvanta
