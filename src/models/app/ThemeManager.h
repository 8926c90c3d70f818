#pragma once

// Models only (QtCore).

#include "models/app/Theme.h"

#include <QList>
#include <QObject>
#include <QString>

namespace orvanta {

class NotificationHub;
class PreferenceStore;

inline constexpr const char* selectedThemeIdKey = "selectedThemeId";

// The window's colour theme, one of builtInThemes(), kept under "selectedThemeId" across runs. An
// absent, non-string or unknown stored id means "original". Main thread only.
class ThemeManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString currentThemeId READ currentThemeId WRITE setCurrentThemeId NOTIFY currentThemeChanged)
    Q_PROPERTY(orvanta::Theme currentTheme READ currentTheme NOTIFY currentThemeChanged)
    Q_PROPERTY(QList<orvanta::Theme> availableThemes READ availableThemes CONSTANT)

public:
    // Reads "selectedThemeId" from `store`. The store and hub must outlive the manager.
    ThemeManager(PreferenceStore& store, NotificationHub& hub, QObject* parent = nullptr);

    QString currentThemeId() const { return currentTheme_.id; }
    Theme currentTheme() const { return currentTheme_; }
    QList<Theme> availableThemes() const { return builtInThemes(); }

    // Selects the theme (an unknown id selects "original"), stores its id under "selectedThemeId",
    // publishes it and posts "ThemeDidChange" so that every window redraws.
    void setCurrentThemeId(const QString& id);

signals:
    void currentThemeChanged();

private:
    PreferenceStore& store_;
    NotificationHub& hub_;
    Theme currentTheme_;
};

} // namespace orvanta
