#include "models/app/ThemeManager.h"

#include "models/app/NotificationHub.h"
#include "platform/PreferenceStore.h"

namespace orvanta {

namespace {

const Theme& themeOrDefault(const QString& id) {
    const Theme* theme = findTheme(id);
    return theme != nullptr ? *theme : *findTheme(QString::fromUtf8(defaultThemeId));
}

} // namespace

ThemeManager::ThemeManager(PreferenceStore& store, NotificationHub& hub, QObject* parent)
    : QObject(parent), store_(store), hub_(hub) {
    const auto stored = store_.stringValue(selectedThemeIdKey);
    currentTheme_ = themeOrDefault(stored ? QString::fromStdString(*stored) : QString());
}

void ThemeManager::setCurrentThemeId(const QString& id) {
    const Theme& theme = themeOrDefault(id);
    store_.setString(selectedThemeIdKey, theme.id.toStdString());
    if (!(theme == currentTheme_)) {
        currentTheme_ = theme;
        emit currentThemeChanged();
    }
    hub_.postThemeDidChange();
}

} // namespace orvanta
