#pragma once

// Plain C++: the named loudness presets of the import screen and how settings match them.

#include "batch/MasteringPresets.h"

#include <optional>
#include <string_view>

namespace orvanta {

// The first preset whose target and threshold both lie strictly within 0.1 of the given ones.
std::optional<MasteringPreset> matchingPreset(float targetLUFS, float limitThreshold) noexcept;

// The label of the current settings: "ANALYZER" while analyzer use is on, else the matching preset's
// name, else "CUSTOM".
std::string_view presetLabel(bool useAnalyzer, float targetLUFS, float limitThreshold) noexcept;

// Name of the run the batch processor records: "Master + Reference" for a reference run, else the
// matching preset's name, else none.
std::optional<std::string_view> runName(bool withReference, float targetLUFS, float limitThreshold) noexcept;

} // namespace orvanta
