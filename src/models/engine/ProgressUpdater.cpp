#include "models/engine/ProgressUpdater.h"

#include "models/engine/MainThread.h"

#include <QCoreApplication>

namespace orvanta {

std::shared_ptr<ProgressUpdater> ProgressUpdater::create(QObject* context, std::function<void(double)> updateCallback) {
    return std::shared_ptr<ProgressUpdater>(new ProgressUpdater(context, std::move(updateCallback)));
}

ProgressUpdater::ProgressUpdater(QObject* context, std::function<void(double)> updateCallback)
    : context_(context), updateCallback_(std::move(updateCallback)) {}

void ProgressUpdater::update(double progress) {
    const auto accepted = throttle_.accept(progress);
    // Posted to the application object, never to the context: the context may be destroyed on the main
    // thread between a check here and the post, and a post to a destroyed object reaches freed memory
    // (at the latest when the application object drops the events left at exit). Only the main thread
    // can ask safely whether the context still lives.
    QObject* application = QCoreApplication::instance();
    if (!accepted || application == nullptr) {
        return;
    }
    std::weak_ptr<ProgressUpdater> weakSelf = weak_from_this();
    postTo(application, [weakSelf, value = *accepted] {
        const auto self = weakSelf.lock();
        if (self && self->context_) {
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
