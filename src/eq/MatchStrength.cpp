#include "eq/MatchStrength.h"

#include <cmath>
#include <cstdio>

namespace orvanta {

bool isValidMatchStrength(float percent) noexcept {
    return std::isfinite(percent) && percent >= minimumMatchStrength && percent <= fullMatchStrength;
}

bool isGentleMatchStrength(float percent) noexcept {
    return std::fabs(percent - gentleMatchStrength) < 0.005f;
}

std::string matchStrengthLabel(float percent) {
    if (isGentleMatchStrength(percent)) return std::string(matchStrengthSteps.front().name);
    for (const MatchStrengthStep& step : matchStrengthSteps)
        if (percent == step.percent) return std::string(step.name);
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %%", double(percent));
    return text;
}

std::optional<float> matchStrengthNamed(std::string_view name) {
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return true;
    };
    for (const MatchStrengthStep& step : matchStrengthSteps)
        if (sameLetters(step.name, name)) return step.percent;
    return std::nullopt;
}

} // namespace orvanta
