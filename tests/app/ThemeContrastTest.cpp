// Every built-in theme keeps its text readable: WCAG 2 AA asks for a contrast ratio of at least 4.5:1
// between text and what it is drawn on. The pairs are the ones the window's style sheet and the drawn
// views put together.
#include "app/ThemeColors.h"
#include "models/app/Theme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace orvanta {
namespace {

// Relative luminance of an sRGB colour (WCAG 2.x).
double luminance(QColor colour) {
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrastRatio(QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(ThemeContrast, TheRatioHasItsKnownValues) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01); // the usual AA grey
}

TEST(ThemeContrast, TextReachesAAInEveryTheme) {
    struct Pair {
        const char* what;
        ThemeColor Theme::*text;
        ThemeColor Theme::*ground;
    };
    const Pair pairs[] = {
        {"text on the window", &Theme::textPrimary, &Theme::background},
        {"text on menus and dialogs", &Theme::textPrimary, &Theme::backgroundSecondary},
        {"text on cards", &Theme::textPrimary, &Theme::cardBackground},
        {"button labels", &Theme::textPrimary, &Theme::elementBackground},
        {"secondary text on the window", &Theme::textSecondary, &Theme::background},
        {"secondary text on cards", &Theme::textSecondary, &Theme::cardBackground},
        {"secondary text on menus", &Theme::textSecondary, &Theme::backgroundSecondary},
        {"primary and checked buttons", &Theme::background, &Theme::accent},
        {"saved notice", &Theme::success, &Theme::background},
        {"verdict Poor", &Theme::error, &Theme::background},
        {"verdict Fair", &Theme::warning, &Theme::background},
        {"verdict Good", &Theme::info, &Theme::background},
        {"verdict Excellent", &Theme::success, &Theme::background},
        {"errors in dialogs", &Theme::error, &Theme::backgroundSecondary},
    };
    ASSERT_EQ(builtInThemes().size(), 4);
    for (const Theme& theme : builtInThemes()) {
        for (const Pair& pair : pairs) {
            EXPECT_GE(contrastRatio(themeColor(theme.*pair.text), themeColor(theme.*pair.ground)), 4.5)
                << theme.id.toStdString() << ": " << pair.what;
        }
    }
}

} // namespace
} // namespace orvanta
