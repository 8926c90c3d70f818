#pragma once

#include "eq/ReferenceSpectrum.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// How much of the measured tonal difference to a reference the matched EQ corrects, in percent:
// 0 leaves the song as it is, 100 corrects the whole difference (within the band limit).
inline constexpr float minimumMatchStrength = 0.0f;
inline constexpr float fullMatchStrength = 100.0f;
// The classic rule uses level units as dB, so it corrects one unit's worth of dB per 7 dB of
// difference: about 14 %. It is the default.
inline constexpr float gentleMatchStrength = fullMatchStrength / decibelsPerLevelUnit;
inline constexpr float mediumMatchStrength = 50.0f;

// The preference key of the user's chosen strength in percent (float); absent or invalid means Gentle.
inline constexpr const char* matchStrengthKey = "Orvanta_referenceMatchStrength";

struct MatchStrengthStep {
    std::string_view name;
    float percent;
};
// The named strengths the window offers, weakest first.
inline constexpr std::array<MatchStrengthStep, 3> matchStrengthSteps = {{
    {"Gentle", gentleMatchStrength},
    {"Medium", mediumMatchStrength},
    {"Full", fullMatchStrength},
}};

// Finite and within 0…100.
bool isValidMatchStrength(float percent) noexcept;
// The default strength, to two decimals (so "14.29" typed by hand is Gentle too).
bool isGentleMatchStrength(float percent) noexcept;
// The step's name ("Gentle", "Medium", "Full"), otherwise the rounded percentage, e.g. "30 %".
std::string matchStrengthLabel(float percent);
// The strength of a step named `name` (case-insensitive); none for any other name.
std::optional<float> matchStrengthNamed(std::string_view name);

} // namespace orvanta
