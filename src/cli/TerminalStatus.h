#pragma once

#include "engine/StatusReporter.h"

#include <mutex>
#include <string>

namespace orvanta::cli {

// Shows a mastering run on a terminal's stderr: each new stage message on its own line and a
// progress bar redrawn in place. Quiet when stderr is not a terminal. Thread-safe.
class TerminalStatus final : public StatusReporter {
public:
    TerminalStatus();
    ~TerminalStatus() override;

    void showProgress(double fraction);
    // Clears the progress bar so that the final report starts on a clean line.
    void finish();

    void updateStage(ProcessingStage stage, const std::string& message, const std::string& technicalInfo) override;
    void addChecklistItem(const std::string&, const std::string&) override {}
    void completeChecklistItem(const std::string&, const std::string&, const std::string&, bool) override {}
    void unhighlightChecklistItem(const std::string&) override {}
    void resetChecklist() override {}

private:
    void drawBar();

    const bool enabled_;
    std::mutex lock_;
    std::string lastMessage_;
    int shownPercent_ = -1;
    bool barShown_ = false;
};

} // namespace orvanta::cli
