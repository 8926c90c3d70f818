#pragma once

// Models only (QtCore).

#include <QMetaObject>
#include <QObject>

#include <functional>

namespace orvanta {

class NotificationHub;
class PreferenceStore;

// Start-up and shut-down of the application. Launch removes the stored EQ ("EQSettings",
// "ActiveEQSettings") so every run starts with the default EQ, refreshes the windows and keeps them
// refreshed on every "ThemeDidChange"; shut-down stops observing and removes every temporary audio
// file. Main thread only.
class AppLifecycle : public QObject {
    Q_OBJECT

public:
    // `refreshWindows` restyles every window with the current theme (supplied by the views; may be empty).
    // The store and hub must outlive the lifecycle.
    AppLifecycle(PreferenceStore& store, NotificationHub& hub, std::function<void()> refreshWindows = {},
                 QObject* parent = nullptr);
    ~AppLifecycle() override;

    // The launch sequence. Call once, before the window is shown.
    void applicationDidFinishLaunching();
    // The shutdown sequence; runs at most once (also from QCoreApplication::aboutToQuit once installed).
    void applicationWillTerminate();
    // Closing the last window quits the process.
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    // Runs applicationWillTerminate when the application's event loop is about to end.
    void installShutdownHook();

    bool isObservingTheme() const { return static_cast<bool>(themeObserver_); }

private:
    PreferenceStore& store_;
    NotificationHub& hub_;
    std::function<void()> refreshWindows_;
    QMetaObject::Connection themeObserver_;
    bool terminated_ = false;
};

} // namespace orvanta
