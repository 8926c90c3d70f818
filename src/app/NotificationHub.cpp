#include "app/NotificationHub.h"

#include "engine/MainThread.h"

namespace orvanta {

NotificationHub& NotificationHub::shared() {
    static NotificationHub* instance = [] {
        auto* hub = new NotificationHub();
        adoptMainThread(hub);
        return hub;
    }();
    return *instance;
}

NotificationHub::NotificationHub(QObject* parent) : QObject(parent) {}

} // namespace orvanta
