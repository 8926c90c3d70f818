#pragma once

#include "batch/MasteringEvent.h"
#include "engine/ProcessingStage.h"
#include "engine/StatusReporter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

namespace orvanta {

// One line of the processing checklist. Equal when id, isCompleted, value and isHighlighted are.
struct ProcessingChecklistItem {
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString value MEMBER value)
    Q_PROPERTY(bool isCompleted MEMBER isCompleted)
    Q_PROPERTY(QString icon MEMBER icon)
    Q_PROPERTY(bool isHighlighted MEMBER isHighlighted)
public:
    QUuid id;
    QString title;
    QString value;
    bool isCompleted = false;
    QString icon;
    bool isHighlighted = false;

    bool operator==(const ProcessingChecklistItem& other) const {
        return id == other.id && isCompleted == other.isCompleted && value == other.value &&
               isHighlighted == other.isHighlighted;
    }
};

// The status the processing screen shows: stage, message, technical line and checklist.
// Lives on the main thread; its fields change only there. Every reporting operation may be called
// from any thread: it is queued to the main thread, and calls from one thread apply in order.
class ProcessingStatusManager : public QObject, public StatusReporter {
    Q_OBJECT
    Q_PROPERTY(int currentStage READ currentStageNumber NOTIFY currentStageChanged)
    Q_PROPERTY(QString detailedMessage READ detailedMessage NOTIFY detailedMessageChanged)
    Q_PROPERTY(QString technicalInfo READ technicalInfo NOTIFY technicalInfoChanged)
    Q_PROPERTY(QList<orvanta::ProcessingChecklistItem> checklistItems READ checklistItems NOTIFY checklistItemsChanged)

public:
    explicit ProcessingStatusManager(QObject* parent = nullptr);

    ProcessingStage currentStage() const { return currentStage_; }
    int currentStageNumber() const { return int(currentStage_); }
    QString detailedMessage() const { return detailedMessage_; }
    QString technicalInfo() const { return technicalInfo_; }
    QList<ProcessingChecklistItem> checklistItems() const { return checklistItems_; }

    // Shows a mastering run's event as its stage texts and checklist lines (StatusNarration.h).
    // Any thread: queued to the main thread like the calls below.
    void report(const MasteringEvent& event);

    // StatusReporter: queued to the main thread.
    void updateStage(ProcessingStage stage, const std::string& message, const std::string& technicalInfo) override;
    void addChecklistItem(const std::string& title, const std::string& icon) override;
    void completeChecklistItem(const std::string& title, const std::string& value, const std::string& icon,
                               bool highlighted) override;
    void unhighlightChecklistItem(const std::string& title) override;
    void resetChecklist() override;

signals:
    void currentStageChanged();
    void detailedMessageChanged();
    void technicalInfoChanged();
    void checklistItemsChanged();

private:
    void applyStage(ProcessingStage stage, const QString& message, const QString& technicalInfo);
    void applyAdd(const QString& title, const QString& icon);
    void applyComplete(const QString& title, const QString& value, const QString& icon, bool highlighted);
    void applyUnhighlight(const QString& title);
    void applyReset();
    qsizetype indexOf(const QString& title) const;

    ProcessingStage currentStage_ = ProcessingStage::analyzing;
    QString detailedMessage_;
    QString technicalInfo_;
    QList<ProcessingChecklistItem> checklistItems_;
};

} // namespace orvanta

Q_DECLARE_METATYPE(orvanta::ProcessingChecklistItem)
