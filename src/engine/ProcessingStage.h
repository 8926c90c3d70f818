#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace orvanta {

// Stages of a mastering run, in order; the raw value is also the text shown for the stage.
enum class ProcessingStage : int {
    analyzing = 0,
    detectingBPM = 1,
    calculatingGain = 2,
    applyingDynamics = 3,
    multibandLimiting = 4,
    optimizingLoudness = 5,
    finalPolish = 6,
    complete = 7,
};

inline constexpr std::array<ProcessingStage, 8> allProcessingStages = {
    ProcessingStage::analyzing,        ProcessingStage::detectingBPM,       ProcessingStage::calculatingGain,
    ProcessingStage::applyingDynamics, ProcessingStage::multibandLimiting,  ProcessingStage::optimizingLoudness,
    ProcessingStage::finalPolish,      ProcessingStage::complete,
};

std::string_view rawValue(ProcessingStage stage) noexcept;
// The stage whose raw value is `raw`, or none.
std::optional<ProcessingStage> processingStageFromRawValue(std::string_view raw) noexcept;

} // namespace orvanta
