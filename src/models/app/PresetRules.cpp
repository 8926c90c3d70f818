#include "models/app/PresetRules.h"

#include <cmath>

namespace orvanta {

std::optional<MasteringPreset> matchingPreset(float targetLUFS, float limitThreshold) noexcept {
    for (const MasteringPreset& preset : masteringPresets) {
        if (std::fabs(targetLUFS - preset.targetLoudness) < 0.1f && std::fabs(limitThreshold - preset.limitThreshold) < 0.1f)
            return preset;
    }
    return std::nullopt;
}

std::string_view presetLabel(bool useAnalyzer, float targetLUFS, float limitThreshold) noexcept {
    if (useAnalyzer) return "ANALYZER";
    if (const auto preset = matchingPreset(targetLUFS, limitThreshold)) return preset->name;
    return "CUSTOM";
}

std::optional<std::string_view> runName(bool withReference, float targetLUFS, float limitThreshold) noexcept {
    if (withReference) return "Master + Reference";
    if (const auto preset = matchingPreset(targetLUFS, limitThreshold)) return preset->name;
    return std::nullopt;
}

} // namespace orvanta
