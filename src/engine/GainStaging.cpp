#include "engine/GainStaging.h"

#include <algorithm>
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

float modelledGain(float inputLUFS, float onsetGainDb, const std::vector<MeasuredPass>& passes,
                   float targetLUFS) noexcept {
    constexpr float unlimitedLossLU = 0.05f; // loss below this is measurement noise, not limiting
    constexpr double largestStepDb = 12.0;
    const auto toLinear = [](double db) { return float(std::pow(10.0, db / 20.0)); };
    const double linearGainDb = double(targetLUFS) - inputLUFS; // enough where nothing is limited
    const auto loss = [inputLUFS](const MeasuredPass& pass) { return double(inputLUFS) + pass.gainDb - pass.lufs; };

    std::vector<MeasuredPass> limited;
    double loudestGainDb = -1e9;
    for (const MeasuredPass& pass : passes) {
        loudestGainDb = std::max(loudestGainDb, double(pass.gainDb));
        if (loss(pass) > unlimitedLossLU) limited.push_back(pass);
    }
    if (limited.empty()) {
        // Nothing limited: one dB of gain is one LU.
        return passes.empty() ? toLinear(linearGainDb)
                              : toLinear(double(passes.back().gainDb) + targetLUFS - passes.back().lufs);
    }

    // √loss = √a·(gain − onset): a straight line through two limited passes.
    double slope = 0.0; // √a
    double onset = onsetGainDb;
    const MeasuredPass& last = limited.back();
    if (limited.size() >= 2) {
        const MeasuredPass& before = limited[limited.size() - 2];
        const double run = double(last.gainDb) - before.gainDb;
        if (std::fabs(run) > 0.01) slope = (std::sqrt(loss(last)) - std::sqrt(loss(before))) / run;
        if (slope > 1e-3) onset = last.gainDb - std::sqrt(loss(last)) / slope;
    }
    if (!(slope > 1e-3)) {
        const double excess = double(last.gainDb) - onset;
        if (excess > 0.1) slope = std::sqrt(loss(last)) / excess;
    }
    const double a = slope * slope;
    const double wanted = linearGainDb - onset; // loudness the excess gain must add above the onset
    // The modelled gain above the onset, x − a·x², rises to its peak 1/(4a) at x = 1/(2a).
    if (a > 0.0 && wanted > 0.0 && wanted < 0.25 / a) {
        const double excess = (1.0 - std::sqrt(1.0 - 4.0 * a * wanted)) / (2.0 * a);
        return toLinear(std::min(onset + excess, loudestGainDb + largestStepDb));
    }
    if (a > 0.0 && wanted <= 0.0) return toLinear(linearGainDb);
    if (a > 0.0 && limited.size() >= 2) return toLinear(std::min(onset + 0.5 / a, loudestGainDb + largestStepDb));
    return toLinear(double(passes.back().gainDb)) * correctionFactor(passes.back().lufs, targetLUFS);
}

} // namespace orvanta
