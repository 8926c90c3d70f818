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

// The gain-reduction lane hangs beside the master's waveform: its colour must read as another thing
// (a hue at least 20 degrees away) and stand out from the lane's ground (3:1, WCAG's figure for
// graphics).
TEST(ThemeContrast, TheGainReductionLaneStandsApartFromTheMasterWaveform) {
    EXPECT_NEAR(hueDistance(QColor(255, 0, 0), QColor(0, 255, 0)), 120.0, 0.5);
    EXPECT_NEAR(hueDistance(QColor::fromHsv(350, 255, 255), QColor::fromHsv(10, 255, 255)), 20.0, 0.5);
    for (const Theme& theme : builtInThemes()) {
        const QColor lane = gainReductionColour(theme);
        EXPECT_GE(hueDistance(lane, themeColor(theme.primary)), 20.0) << theme.id.toStdString();
        EXPECT_GE(contrastRatio(lane, themeColor(theme.elementBackground)), 3.0) << theme.id.toStdString();
    }
    const Theme& blackAndGold = *findTheme(QStringLiteral("sunset"));
    EXPECT_LT(hueDistance(themeColor(blackAndGold.warning), themeColor(blackAndGold.primary)), 20.0)
        << "amber beside gold is the case the rule is for";
}

} // namespace
} // namespace orvanta
