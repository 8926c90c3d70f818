#include "models/app/Theme.h"

namespace orvanta {

namespace {

// Field order: primary, secondary, accent, background, backgroundSecondary, cardBackground,
// elementBackground, textPrimary, textSecondary, success, warning, error, info, lufs, rms, peak, stereo.
Theme makeTheme(const char* id, const char* name, std::initializer_list<ThemeColor> colours) {
    Theme theme;
    theme.id = QString::fromUtf8(id);
    theme.name = QString::fromUtf8(name);
    ThemeColor* fields[] = {&theme.primary,     &theme.secondary,         &theme.accent,        &theme.background,
                            &theme.backgroundSecondary, &theme.cardBackground, &theme.elementBackground,
                            &theme.textPrimary, &theme.textSecondary,     &theme.success,       &theme.warning,
                            &theme.error,       &theme.info,              &theme.lufsColor,     &theme.rmsColor,
                            &theme.peakColor,   &theme.stereoColor};
    auto colour = colours.begin();
    for (ThemeColor* field : fields) {
        *field = *colour++;
    }
    return theme;
}

} // namespace

const QList<Theme>& builtInThemes() {
    static const QList<Theme> themes = {
        makeTheme("original", "Original",
                  {0xFFE8553A, 0xFF3A7BE8, 0xFFF2B134, 0xFF17171C, 0xFF202027, 0xFF26262F, 0xFF32323D, 0xFFF4F4F6,
                   0xFFA3A3AF, 0xFF3CC47C, 0xFFF2B134, 0xFFF05F64, 0xFF4FA3F7, 0xFF4FD1C5, 0xFFB794F4, 0xFFF6AD55,
                   0xFF68D391}),
        makeTheme("ocean", "Cyan Blue",
                  {0xFF12B5CB, 0xFF1F6FB2, 0xFF5EE7F2, 0xFF0B1A26, 0xFF102433, 0xFF14303F, 0xFF1B3D4F, 0xFFE6F7FB,
                   0xFF8FB3C2, 0xFF34C98E, 0xFFF5C451, 0xFFEF5B5B, 0xFF5AB8F0, 0xFF5EE7F2, 0xFF7FA7FF, 0xFFFFB26B,
                   0xFF7DF0B5}),
        makeTheme("sunset", "Black & Gold",
                  {0xFFD4AF37, 0xFF8C6D1F, 0xFFFFD966, 0xFF0D0D0D, 0xFF161616, 0xFF1E1C17, 0xFF2A271F, 0xFFF7F1DE,
                   0xFFB3A98C, 0xFF7BC96F, 0xFFFFC247, 0xFFE0524A, 0xFFC9A94F, 0xFFFFD966, 0xFFC8A2C8, 0xFFFF9F43,
                   0xFFB5D99C}),
        makeTheme("forest", "Emerald Green",
                  {0xFF2ECC71, 0xFF1E8449, 0xFFA3E635, 0xFF0C1A12, 0xFF12251A, 0xFF173022, 0xFF1F3D2B, 0xFFEAF7EE,
                   0xFF93B39E, 0xFF4ADE80, 0xFFFACC15, 0xFFF87171, 0xFF60A5FA, 0xFF6EE7B7, 0xFFA78BFA, 0xFFFDBA74,
                   0xFFBEF264}),
    };
    return themes;
}

const Theme* findTheme(const QString& id) {
    for (const Theme& theme : builtInThemes()) {
        if (theme.id == id) {
            return &theme;
        }
    }
    return nullptr;
}

} // namespace orvanta
