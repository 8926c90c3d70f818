#include "playback/VectorscopeManager.h"

#include "engine/MainThread.h"

namespace orvanta {

VectorscopeManager& VectorscopeManager::shared() {
    static VectorscopeManager* instance = [] {
        auto* manager = new VectorscopeManager();
        adoptMainThread(manager);
        return manager;
    }();
    return *instance;
}

VectorscopeManager::VectorscopeManager(QObject* parent) : QObject(parent) {}

void VectorscopeManager::setCurrentURL(const QUrl& url) {
    if (currentURL_ != url) {
        currentURL_ = url;
        emit currentURLChanged();
    }
}

} // namespace orvanta
