#pragma once

#include "batch/MasteringEvent.h"
#include "batch/StatusNarration.h"
#include "engine/StatusReporter.h"

#include <mutex>
#include <string>
#include <vector>

namespace orvanta::test {

// A status reporter that keeps every call in order, for checking what a run tells the screen.
class RecordingStatusReporter final : public StatusReporter {
public:
    struct Call {
        std::string kind; // "stage", "add", "complete", "unhighlight", "reset"
        ProcessingStage stage = ProcessingStage::analyzing;
        std::string first;  // message or title
        std::string second; // technical info or value
        std::string icon;
        bool highlighted = false;
    };

    void updateStage(ProcessingStage stage, const std::string& message, const std::string& technicalInfo) override {
        record({"stage", stage, message, technicalInfo, "", false});
    }
    void addChecklistItem(const std::string& title, const std::string& icon) override {
        record({"add", {}, title, "", icon, false});
    }
    void completeChecklistItem(const std::string& title, const std::string& value, const std::string& icon,
                               bool highlighted) override {
        record({"complete", {}, title, value, icon, highlighted});
    }
    void unhighlightChecklistItem(const std::string& title) override { record({"unhighlight", {}, title, "", "", false}); }
    void resetChecklist() override { record({"reset", {}, "", "", "", false}); }

    // A run's events as the status manager words them, recorded here (links the models library).
    MasteringEventSink events() {
        return [this](const MasteringEvent& event) { narrate(event, *this); };
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& call : calls()) {
            if (call.kind == "stage") out.push_back(call.first);
        }
        return out;
    }
    bool saidMessage(const std::string& message) const {
        for (const auto& m : messages()) {
            if (m == message) return true;
        }
        return false;
    }
    // The value of the last completion of `title`, or "" when none.
    std::string itemValue(const std::string& title) const {
        std::string value;
        for (const auto& call : calls()) {
            if (call.kind == "complete" && call.first == title) value = call.second;
        }
        return value;
    }

private:
    void record(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

} // namespace orvanta::test
