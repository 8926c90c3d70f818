#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace orvanta {

// The named loudness presets: target loudness (LUFS) and limit threshold (dBFS), in menu order.
struct MasteringPreset {
    std::string_view name;
    float targetLoudness;
    float limitThreshold;
};

inline constexpr std::array<MasteringPreset, 3> masteringPresets = {{
    {"Normal", -10.0f, -0.2f},
    {"Loud", -8.0f, -0.3f},
    {"Extra Loud", -6.0f, -0.5f},
}};

inline constexpr std::string_view defaultPresetName = "Loud";

// The preset called `name` (exact spelling), if any.
constexpr std::optional<MasteringPreset> presetNamed(std::string_view name) {
    for (const MasteringPreset& preset : masteringPresets)
        if (preset.name == name) return preset;
    return std::nullopt;
}

} // namespace orvanta
