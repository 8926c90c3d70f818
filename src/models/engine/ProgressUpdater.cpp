#include "models/engine/ProgressUpdater.h"

#include "models/engine/MainThread.h"

namespace orvanta {

std::shared_ptr<ProgressUpdater> ProgressUpdater::create(QObject* context, std::function<void(double)> updateCallback) {
    return std::shared_ptr<ProgressUpdater>(new ProgressUpdater(context, std::move(updateCallback)));
}

ProgressUpdater::ProgressUpdater(QObject* context, std::function<void(double)> updateCallback)
    : context_(context), updateCallback_(std::move(updateCallback)) {}

void ProgressUpdater::update(double progress) {
    const auto accepted = throttle_.accept(progress);
    QObject* context = context_.data();
    if (!accepted || context == nullptr) {
        return;
    }
    std::weak_ptr<ProgressUpdater> weakSelf = weak_from_this();
    postTo(context, [weakSelf, value = *accepted] {
        if (auto self = weakSelf.lock()) {
            self->updateCallback_(value);
        }
    });
}

ProgressCallback ProgressUpdater::callback() {
    std::weak_ptr<ProgressUpdater> weakSelf = weak_from_this();
    return [weakSelf](double progress) {
        if (auto self = weakSelf.lock()) {
            self->update(progress);
        }
    };
}

} // namespace orvanta
