#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace orvanta {

// Which analysis the panel's figures show for a mastered file with a baseline: the original's
// ("before") or the mastered file's ("after").
enum class ComparisonMode { before, after };

inline constexpr std::array<ComparisonMode, 2> allComparisonModes = {ComparisonMode::before, ComparisonMode::after};

// "before" / "after".
constexpr std::string_view rawValue(ComparisonMode mode) { return mode == ComparisonMode::before ? "before" : "after"; }

// The mode of a raw value, or nothing for any other text.
constexpr std::optional<ComparisonMode> comparisonModeFromRawValue(std::string_view raw) {
    if (raw == "before") {
        return ComparisonMode::before;
    }
    if (raw == "after") {
        return ComparisonMode::after;
    }
    return std::nullopt;
}

} // namespace orvanta
