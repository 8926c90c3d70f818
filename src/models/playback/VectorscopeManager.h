#pragma once

// Models only (QtCore).

#include <QObject>
#include <QUrl>

namespace orvanta {

// Which file the vectorscope reads: set by the interface when the playing file changes (an empty URL
// means none). Main thread.
class VectorscopeManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl currentURL READ currentURL WRITE setCurrentURL NOTIFY currentURLChanged)

public:
    explicit VectorscopeManager(QObject* parent = nullptr);

    QUrl currentURL() const { return currentURL_; }
    void setCurrentURL(const QUrl& url);

signals:
    void currentURLChanged();

private:
    QUrl currentURL_;
};

} // namespace orvanta
