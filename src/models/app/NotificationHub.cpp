#include "models/app/NotificationHub.h"

namespace orvanta {

NotificationHub::NotificationHub(QObject* parent) : QObject(parent) {}

} // namespace orvanta
