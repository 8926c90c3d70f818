#include "engine/GainStaging.h"

#include <cmath>

namespace orvanta {

namespace {

// The extra term when the level must come down: gentler for loud targets.
float reductionTerm(float a, float targetLUFS) {
    if (targetLUFS < -13.0f) {
        if (a > 4.0f) return -0.3f - 0.3f * (a - 4.0f);
        if (a > 2.0f) return -0.1f - 0.1f * (a - 2.0f);
        return -0.05f * a;
    }
    if (a > 3.0f) return -0.1f * (a - 3.0f);
    return -0.03f * a;
}

// The extra term of the first boost, growing with the distance and, above 3 dB, the headroom.
float boostTerm(float a, float headroom) {
    if (a > 9.0f) return 2.8f + 0.2f * (a - 9.0f) + 0.2f * headroom;
    if (a > 7.0f) return 2.4f + 0.2f * (a - 7.0f) + 0.15f * headroom;
    if (a > 5.0f) return 2.0f + 0.2f * (a - 5.0f) + 0.1f * headroom;
    if (a > 3.0f) return 1.5f + 0.25f * (a - 3.0f) + 0.05f * headroom;
    if (a > 1.0f) return 0.8f + 0.35f * (a - 1.0f);
    return 0.6f * a;
}

} // namespace

float initialGain(float inputLUFS, float inputPeak, float targetLUFS) noexcept {
    const float d = targetLUFS - inputLUFS;
    const float a = std::fabs(d);
    const float e = d < 0.0f ? reductionTerm(a, targetLUFS) : boostTerm(a, std::fabs(inputPeak));
    return std::pow(10.0f, (d + e) / 20.0f);
}

float correctionFactor(float measuredLUFS, float targetLUFS) noexcept {
    const float d = targetLUFS - measuredLUFS;
    const float e = d < 0.0f ? reductionTerm(std::fabs(d), targetLUFS) : 0.6f * d;
    return std::pow(10.0f, (d + e) / 20.0f);
}

} // namespace orvanta
