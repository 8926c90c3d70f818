#pragma once

#include "models/app/Theme.h"

#include <QWidget>

namespace orvanta {

// A drawn view that paints in the window's theme. The window pushes every theme change down to its
// views, so a view never reaches for the theme itself; until then it paints in the default theme.
class ThemedWidget : public QWidget {
public:
    explicit ThemedWidget(QWidget* parent = nullptr);

    const Theme& theme() const { return theme_; }
    // Repaints in `theme`.
    void setTheme(const Theme& theme);

protected:
    // After the theme changed: a view that holds themed children passes the theme on here.
    virtual void themeChanged() {}

private:
    Theme theme_;
};

} // namespace orvanta
