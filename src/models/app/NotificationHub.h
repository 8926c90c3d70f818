#pragma once

// Models only (QtCore).

#include <QObject>
#include <QString>

namespace orvanta {

// The application's notification centre (one, owned by the application object): components talk across subsystem borders through its
// signals, one per application-wide notification name:
//   "ThemeDidChange"          themeDidChange()                  redraw every window with the new theme
//   "VectorscopeURLChanged"   vectorscopeUrlChanged(path)       the file whose samples the vectorscope shows
//   "AnalyzerPlaybackChanged" analyzerPlaybackChanged(isOriginal) which version the analyzer panel plays
// Lives on the main thread; post from the main thread (observers run there, in posting order).
class NotificationHub : public QObject {
    Q_OBJECT

public:
    static constexpr const char* themeDidChangeName = "ThemeDidChange";
    static constexpr const char* vectorscopeURLChangedName = "VectorscopeURLChanged";
    static constexpr const char* analyzerPlaybackChangedName = "AnalyzerPlaybackChanged";
    static constexpr const char* isOriginalKey = "isOriginal"; // user info key of "AnalyzerPlaybackChanged"

    explicit NotificationHub(QObject* parent = nullptr);

    void postThemeDidChange() { emit themeDidChange(); }
    // `path` is the local file now playing.
    void postVectorscopeURLChanged(const QString& path) { emit vectorscopeUrlChanged(path); }
    void postAnalyzerPlaybackChanged(bool isOriginal) { emit analyzerPlaybackChanged(isOriginal); }

signals:
    void themeDidChange();
    void vectorscopeUrlChanged(QString path);
    void analyzerPlaybackChanged(bool isOriginal);
};

} // namespace orvanta
