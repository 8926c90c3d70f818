#include "app/ThemedWidget.h"

namespace orvanta {

ThemedWidget::ThemedWidget(QWidget* parent) : QWidget(parent), theme_(*findTheme(QString::fromUtf8(defaultThemeId))) {}

void ThemedWidget::setTheme(const Theme& theme) {
    if (theme == theme_) return;
    theme_ = theme;
    themeChanged();
    update();
}

} // namespace orvanta
