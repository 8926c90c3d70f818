#pragma once

#include <array>
#include <string>
#include <string_view>

namespace orvanta::AudioAnalyzer {

struct UseCaseTarget {
    std::string_view name;
    double targetLUFS; // LUFS
};

// In this order; the order decides ties.
inline constexpr std::array<UseCaseTarget, 4> useCaseTargets = {{
    {"RADIO", -14.0},
    {"EVENTS", -12.0},
    {"CLUB", -10.0},
    {"FESTIVAL", -8.0},
}};

struct UseCaseRecommendation {
    std::string recommendedUseCase;
    double recommendedTargetLUFS = 0.0; // LUFS
    std::string recommendationNote;     // sentences joined with " • "

    bool operator==(const UseCaseRecommendation&) const = default;
};

// The use case whose target is nearest to `lufs` (integrated, LUFS), with a note on the distance and,
// when truePeakDB (dBTP) is above −1, on the peak. Pure; any thread; does not throw.
UseCaseRecommendation recommendUseCase(double lufs, double truePeakDB);

} // namespace orvanta::AudioAnalyzer
