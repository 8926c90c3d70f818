#include "models/engine/ProcessingStatusManager.h"

#include "batch/StatusNarration.h"
#include "models/engine/MainThread.h"

namespace orvanta {

ProcessingStatusManager::ProcessingStatusManager(QObject* parent) : QObject(parent) {}

void ProcessingStatusManager::report(const MasteringEvent& event) { narrate(event, *this); }

void ProcessingStatusManager::updateStage(ProcessingStage stage, const std::string& message,
                                          const std::string& technicalInfo) {
    postTo(this, [this, stage, message = QString::fromStdString(message),
                  info = QString::fromStdString(technicalInfo)] { applyStage(stage, message, info); });
}

void ProcessingStatusManager::addChecklistItem(const std::string& title, const std::string& icon) {
    postTo(this, [this, title = QString::fromStdString(title), icon = QString::fromStdString(icon)] {
        applyAdd(title, icon);
    });
}

void ProcessingStatusManager::completeChecklistItem(const std::string& title, const std::string& value,
                                                    const std::string& icon, bool highlighted) {
    postTo(this, [this, title = QString::fromStdString(title), value = QString::fromStdString(value),
                  icon = QString::fromStdString(icon), highlighted] { applyComplete(title, value, icon, highlighted); });
}

void ProcessingStatusManager::unhighlightChecklistItem(const std::string& title) {
    postTo(this, [this, title = QString::fromStdString(title)] { applyUnhighlight(title); });
}

void ProcessingStatusManager::resetChecklist() {
    postTo(this, [this] { applyReset(); });
}

void ProcessingStatusManager::applyStage(ProcessingStage stage, const QString& message, const QString& technicalInfo) {
    if (currentStage_ != stage) {
        currentStage_ = stage;
        emit currentStageChanged();
    }
    if (detailedMessage_ != message) {
        detailedMessage_ = message;
        emit detailedMessageChanged();
    }
    if (technicalInfo_ != technicalInfo) {
        technicalInfo_ = technicalInfo;
        emit technicalInfoChanged();
    }
}

qsizetype ProcessingStatusManager::indexOf(const QString& title) const {
    for (qsizetype i = 0; i < checklistItems_.size(); ++i) {
        if (checklistItems_[i].title == title) {
            return i;
        }
    }
    return -1;
}

void ProcessingStatusManager::applyAdd(const QString& title, const QString& icon) {
    if (const qsizetype i = indexOf(title); i >= 0) {
        checklistItems_[i].isCompleted = false; // the value stays until the item completes again
    } else {
        checklistItems_.append({QUuid::createUuid(), title, QStringLiteral("..."), false, icon, false});
    }
    emit checklistItemsChanged();
}

void ProcessingStatusManager::applyComplete(const QString& title, const QString& value, const QString& icon,
                                            bool highlighted) {
    if (const qsizetype i = indexOf(title); i >= 0) {
        // An existing item keeps its icon, also the pending one it was added with.
        checklistItems_[i].value = value;
        checklistItems_[i].isCompleted = true;
        checklistItems_[i].isHighlighted = highlighted;
    } else {
        checklistItems_.append({QUuid::createUuid(), title, value, true, icon, highlighted});
    }
    emit checklistItemsChanged();
}

void ProcessingStatusManager::applyUnhighlight(const QString& title) {
    if (const qsizetype i = indexOf(title); i >= 0) {
        checklistItems_[i].isHighlighted = false;
        emit checklistItemsChanged();
    }
}

void ProcessingStatusManager::applyReset() {
    checklistItems_.clear();
    emit checklistItemsChanged();
}

} // namespace orvanta
