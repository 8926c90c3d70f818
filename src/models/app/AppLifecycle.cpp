#include "models/app/AppLifecycle.h"

#include "eq/EQSettings.h"
#include "models/app/NotificationHub.h"
#include "models/app/TemporaryCleanup.h"
#include "platform/PreferenceStore.h"

#include <QCoreApplication>

namespace orvanta {

AppLifecycle::AppLifecycle(PreferenceStore& store, NotificationHub& hub, std::function<void()> refreshWindows,
                           QObject* parent)
    : QObject(parent), store_(store), hub_(hub), refreshWindows_(std::move(refreshWindows)) {}

AppLifecycle::~AppLifecycle() {
    if (themeObserver_) {
        QObject::disconnect(themeObserver_);
    }
}

void AppLifecycle::applicationDidFinishLaunching() {
    store_.remove(eqSettingsKey);
    store_.remove(activeEQSettingsKey);
    if (refreshWindows_) {
        refreshWindows_();
    }
    if (!themeObserver_) {
        themeObserver_ = connect(&hub_, &NotificationHub::themeDidChange, this, [this] {
            if (refreshWindows_) {
                refreshWindows_();
            }
        });
    }
}

void AppLifecycle::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    if (themeObserver_) {
        QObject::disconnect(themeObserver_);
        themeObserver_ = {};
    }
    cleanUpTemporaryFiles(true);
}

void AppLifecycle::installShutdownHook() {
    if (auto* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, &AppLifecycle::applicationWillTerminate);
    }
}

} // namespace orvanta
