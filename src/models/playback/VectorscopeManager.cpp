#include "models/playback/VectorscopeManager.h"

namespace orvanta {

VectorscopeManager::VectorscopeManager(QObject* parent) : QObject(parent) {}

void VectorscopeManager::setCurrentURL(const QUrl& url) {
    if (currentURL_ != url) {
        currentURL_ = url;
        emit currentURLChanged();
    }
}

} // namespace orvanta
