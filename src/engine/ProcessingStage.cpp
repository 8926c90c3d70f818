#include "engine/ProcessingStage.h"

namespace orvanta {

std::string_view rawValue(ProcessingStage stage) noexcept {
    switch (stage) {
    case ProcessingStage::analyzing: return "Analyzing audio spectrum...";
    case ProcessingStage::detectingBPM: return "Detecting BPM & rhythm...";
    case ProcessingStage::calculatingGain: return "Calculating optimal gain...";
    case ProcessingStage::applyingDynamics: return "Applying dynamic processing...";
    case ProcessingStage::multibandLimiting: return "Multiband limiting active...";
    case ProcessingStage::optimizingLoudness: return "Optimizing loudness...";
    case ProcessingStage::finalPolish: return "Final polish & export prep...";
    case ProcessingStage::complete: return "Mastering complete!";
    }
    return {};
}

std::optional<ProcessingStage> processingStageFromRawValue(std::string_view raw) noexcept {
    for (ProcessingStage stage : allProcessingStages) {
        if (rawValue(stage) == raw) {
            return stage;
        }
    }
    return std::nullopt;
}

} // namespace orvanta
