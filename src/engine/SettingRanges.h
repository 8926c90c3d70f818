#pragma once

#include <algorithm>
#include <cmath>

namespace orvanta {

// The settings a mastering run accepts. A target quieter than -30 LUFS is far below every delivery
// standard (broadcast asks for -23 or -24), and one louder than -3 LUFS cannot be reached without
// turning the song into a square wave. A ceiling above 0 dBFS would clip every converter; one below
// -6 dBFS throws away more headroom than any codec needs.
struct SettingRange {
    float minimum;
    float maximum;

    constexpr bool contains(float value) const noexcept { return value >= minimum && value <= maximum; }
    // The nearest value in the range; `fallback` for a value that is not a number.
    float bound(float value, float fallback) const noexcept {
        return std::isnan(value) ? fallback : std::clamp(value, minimum, maximum);
    }
};

inline constexpr SettingRange targetLoudnessRange{-30.0f, -3.0f}; // LUFS
inline constexpr SettingRange limitThresholdRange{-6.0f, 0.0f};   // dBFS

} // namespace orvanta
