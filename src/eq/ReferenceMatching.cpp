#include "eq/ReferenceMatching.h"

#include "eq/MatchStrength.h"

#include <algorithm>

namespace orvanta {

bool bandDifferenceMeasured(float reference, float file) noexcept {
    return !((reference <= 0.0f && file <= 0.0f) || (reference >= levelScaleTop && file >= levelScaleTop));
}

BandLevels fullMatchCorrectionDb(const BandLevels& reference, const BandLevels& file) {
    BandLevels correction{};
    float sumDb = 0.0f;
    int measured = 0;
    for (size_t i = 0; i < matchedBandCount; ++i) {
        if (!bandDifferenceMeasured(reference[i], file[i])) continue;
        correction[i] = (reference[i] - file[i]) * decibelsPerLevelUnit;
        sumDb += correction[i];
        ++measured;
    }
    const float meanDb = measured > 0 ? sumDb / float(measured) : 0.0f;
    for (size_t i = 0; i < matchedBandCount; ++i) {
        // An unmeasured band keeps its place in the overall level: no tonal change.
        correction[i] = bandDifferenceMeasured(reference[i], file[i])
                            ? std::clamp(correction[i] - meanDb, -matchBandLimitDb, matchBandLimitDb)
                            : 0.0f;
    }
    return correction;
}

std::vector<EQBand> matchReferenceEQ(const BandLevels& reference, const BandLevels& file, float strengthPercent) {
    if (isGentleMatchStrength(strengthPercent)) return matchReferenceEQ(reference, file);
    const BandLevels correction = fullMatchCorrectionDb(reference, file);
    const float scale = std::clamp(strengthPercent, minimumMatchStrength, fullMatchStrength) / fullMatchStrength;
    std::vector<EQBand> bands = defaultBands();
    for (size_t i = 0; i < matchedBandCount; ++i) {
        const float gain = correction[i] * scale;
        bands[i].gain = gain == 0.0f ? 0.0f : gain; // no "-0" cut at 0 %
    }
    return bands;
}

EQSettings matchedEQSettings(const BandLevels& reference, const BandLevels& file, float strengthPercent) {
    EQSettings settings = matchedEQSettings(reference, file);
    settings.bands = matchReferenceEQ(reference, file, strengthPercent);
    return settings;
}

} // namespace orvanta
