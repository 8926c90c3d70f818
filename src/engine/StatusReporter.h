#pragma once

#include "engine/ProcessingStage.h"

#include <string>

namespace orvanta {

// What the engine tells the processing screen: stage, message, technical line and checklist.
// The models' ProcessingStatusManager implements it by posting each call to the main thread in
// order; the CLI prints. Calls may come from any thread.
class StatusReporter {
public:
    virtual ~StatusReporter() = default;
    virtual void updateStage(ProcessingStage stage, const std::string& message, const std::string& technicalInfo) = 0;
    virtual void addChecklistItem(const std::string& title, const std::string& icon) = 0;
    virtual void completeChecklistItem(const std::string& title, const std::string& value, const std::string& icon,
                                       bool highlighted) = 0;
    virtual void unhighlightChecklistItem(const std::string& title) = 0;
    virtual void resetChecklist() = 0;
};

// Discards everything: for callers that show no status.
class NullStatusReporter final : public StatusReporter {
public:
    void updateStage(ProcessingStage, const std::string&, const std::string&) override {}
    void addChecklistItem(const std::string&, const std::string&) override {}
    void completeChecklistItem(const std::string&, const std::string&, const std::string&, bool) override {}
    void unhighlightChecklistItem(const std::string&) override {}
    void resetChecklist() override {}
};

} // namespace orvanta
