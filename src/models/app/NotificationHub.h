#pragma once

// Models only (QtCore).

#include <QObject>
#include <QString>

namespace orvanta {

// The application's notification centre (one, owned by the application object): components talk across subsystem borders through its
// signals, one per application-wide notification name:
//   "ThemeDidChange"          themeDidChange()                  redraw every window with the new theme
//   "VectorscopeURLChanged"   vectorscopeUrlChanged(path)       the file whose samples the vectorscope shows
//   "AnalyzerPlaybackChanged" analyzerPlaybackChanged(isOriginal) which version the analyzer panel plays,
//                                                                 shown by the result screen's A/B switch
// Lives on the main thread; post from the main thread (observers run there, in posting order).
class NotificationHub : public QObject {
    Q_OBJECT

public:
    explicit NotificationHub(QObject* parent = nullptr);

    void postThemeDidChange() { emit themeDidChange(); }

signals:
    void themeDidChange();
    void vectorscopeUrlChanged(QString path); // `path` is the local file now playing
    void analyzerPlaybackChanged(bool isOriginal);
};

} // namespace orvanta
