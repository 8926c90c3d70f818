#include "analyzer/CorrectionPlan.h"

#include "engine/SettingRanges.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace orvanta {

namespace {

constexpr const char* targetLoudnessKey = "targetLoudness";

float clampf(float x, float lo, float hi) { return std::clamp(x, lo, hi); }

} // namespace

std::vector<float> smoothGains(const std::vector<float>& bandValues) {
    constexpr size_t n = 12;
    std::vector<float> smoothed(n, 0.0f);
    if (bandValues.size() != n) {
        return smoothed;
    }
    float sum = 0.0f;
    for (float v : bandValues) {
        sum += v;
    }
    const float mu = sum / float(n);
    std::vector<float> raw(n);
    for (size_t i = 0; i < n; ++i) {
        raw[i] = clampf((mu - bandValues[i]) * 1.2f, -4.0f, 4.0f);
    }
    // (1, 2, 1) ÷ 4 with the edge values repeated.
    smoothed[0] = (3.0f * raw[0] + raw[1]) / 4.0f;
    for (size_t i = 1; i < n; ++i) {
        smoothed[i] = (raw[i - 1] + 2.0f * raw[i] + raw[std::min(i + 1, n - 1)]) / 4.0f;
    }
    for (float& g : smoothed) {
        g = clampf(g, -4.0f, 4.0f);
    }
    return smoothed;
}

AnalyzerPlan makePlan(const AudioAnalysisResult& result, const std::vector<float>& bandValues, float inputLUFS,
                      float inputPeak, float inputRMS, const PreferenceStore& preferences) {
    const std::optional<float> stored = preferences.floatValue(targetLoudnessKey);
    // A hand-edited preference outside the accepted range is bounded as the settings are.
    const float targetLUFS =
        stored && std::isfinite(*stored) ? targetLoudnessRange.bound(*stored, planDefaultTargetLUFS) : planDefaultTargetLUFS;
    return makePlan(result, bandValues, inputLUFS, inputPeak, inputRMS, targetLUFS);
}

AnalyzerPlan makePlan(const AudioAnalysisResult& result, const std::vector<float>& bandValues, float inputLUFS,
                      float inputPeak, float inputRMS, float targetLUFS) {
    const auto& details = result.analysisDetails;
    const auto& balance = details.spectralBalance;
    const float W = float(result.warmth);
    const float C = float(result.clarity);
    const float D = float(result.dynamics);
    const float S = float(result.spaciousness);
    const float M = float(details.midEnergyRatio);
    const float Sd = float(details.sideEnergyRatio);
    const float bSub = float(balance.subBass);
    const float bBass = float(balance.bass);
    const float bLowMid = float(balance.lowMid);
    const float bHighMid = float(balance.highMid);

    AnalyzerReport report;
    report.inputLUFS = inputLUFS;
    report.inputPeak = inputPeak;
    report.inputRMS = inputRMS;
    report.bandValues = bandValues;
    report.bandGains = smoothGains(bandValues);

    // Deficits and excesses of the scores.
    const float wDef = std::max(1.0f - W, 0.0f);
    const float cDef = std::max(1.0f - C, 0.0f);
    const float sDef = std::max((0.18f - Sd) / 0.18f, 0.0f);
    const float dDef = std::max(1.0f - D, 0.0f);
    report.warmthDeficitPercent = int(100.0f * wDef);
    report.clarityDeficitPercent = int(100.0f * cDef);
    report.sideDeficitPercent = int(100.0f * sDef);

    float warmthBoost = std::min(4.5f * wDef, 4.0f);
    if (bLowMid > 0.3f) {
        warmthBoost *= 0.6f; // the low mids are full already
    }
    const float clarityBoost = std::min(6.0f * cDef, 5.0f);
    const float sideRaw = std::min(clampf((M - 0.65f) / 0.2f, 0.2f, 1.0f) * std::min(3.0f * sDef, 3.0f) *
                                       clampf(1.0f - S, 0.2f, 1.0f),
                                   3.0f);
    const double scoreMean = (double(result.warmth) + result.clarity + result.dynamics + result.spaciousness +
                              details.midEnergyRatio + details.sideEnergyRatio) /
                             6.0;
    const float balanceTarget = clampf(float(scoreMean), 0.7f, 0.85f);
    const float spaceExcess = std::max(S - balanceTarget, 0.0f);
    const float warmthExcess = std::max(W - balanceTarget, 0.0f);
    const float clarityExcess = std::max(C - balanceTarget, 0.0f);
    const float midExcess = std::max(M - balanceTarget, 0.0f);
    const float spaceSideTrim = 6.0f * spaceExcess;
    const float sideGain = clampf(std::max(sideRaw, 0.0f) - spaceSideTrim, -4.0f, 2.0f);

    const float lowEnd = std::min(
        2.5f * (2.5f * std::max((0.08f - bSub) / 0.08f, 0.0f) + 1.5f * std::max((0.22f - bBass) / 0.22f, 0.0f)), 4.0f);
    const float highBoost = std::min(4.0f * std::max((0.22f - bHighMid) / 0.22f, 0.0f), 4.0f);
    const float midBoost = clampf(2.5f * (0.78f - M) / 0.78f, 0.0f, 2.0f);
    const float sideEQ = std::min(0.45f * std::max(sideRaw, 0.0f), 2.0f);
    const float lowMidCut = (bLowMid >= 0.27f ? std::min(2.5f * (bLowMid - 0.27f) / 0.27f, 2.0f) : 0.0f) +
                            clampf(2.0f * warmthExcess, 0.0f, 1.5f);
    const float highMidCut = clampf(2.5f * clarityExcess, 0.0f, 2.0f);
    const float midCut = clampf(2.0f * midExcess, 0.0f, 1.5f);

    report.warmthBoostDB = warmthBoost;
    report.clarityBoostDB = clarityBoost;
    report.sideGainDB = sideGain;
    report.balanceTarget = balanceTarget;
    report.spaceExcess = spaceExcess;
    report.warmthExcess = warmthExcess;
    report.clarityExcess = clarityExcess;
    report.midExcess = midExcess;
    report.spaceSideTrimDB = spaceSideTrim;
    report.lowMidCutDB = lowMidCut;
    report.highMidCutDB = highMidCut;
    report.midCutDB = midCut;

    // Per-band corrections on top of the levelling gains.
    const float L = lowEnd, Wb = warmthBoost, Cb = clarityBoost, H = highBoost, Mb = midBoost, Sb = sideEQ;
    const float LM = lowMidCut, HM = highMidCut, MC = midCut;
    const float corrections[12] = {
        0.8f * L,
        0.8f * L + 0.5f * Wb,
        L + 0.85f * Wb,
        Wb - 0.7f * LM,
        0.7f * Wb + 0.4f * Mb - 0.4f * MC - 0.9f * LM,
        0.6f * Mb + 0.6f * Sb - 0.7f * MC - 0.4f * LM,
        Cb + 0.5f * H + 0.4f * Sb + 0.5f * Mb - 0.6f * HM - 0.5f * MC,
        0.8f * Cb + 0.9f * H - HM,
        0.6f * Cb + 1.1f * H - 0.8f * HM,
        0.4f * Cb + 0.8f * H,
        0.0f,
        0.0f,
    };

    const float strength = clampf(0.6f + 0.1f * wDef + 0.2f * cDef + 0.1f * dDef, 0.55f, 0.85f);

    AnalyzerPlan plan;
    plan.eqSettings.isEnabled = true;
    plan.eqSettings.masterGain = 0.0f;
    plan.eqSettings.isAutoReferenceMode = false;
    plan.eqSettings.bands.resize(12);
    for (size_t i = 0; i < 12; ++i) {
        EQBand& band = plan.eqSettings.bands[i];
        band.frequency = planBandFrequencies[i];
        band.q = planBandQs[i];
        band.type = EQBandType::peaking;
        band.gain = clampf(strength * report.bandGains[i] + corrections[i], -6.0f, 6.0f);
    }
    // The top bands are kept gentle: boosts there turn harsh first.
    plan.eqSettings.bands[8].gain = std::min(plan.eqSettings.bands[8].gain, 2.0f);
    plan.eqSettings.bands[9].gain = std::min(plan.eqSettings.bands[9].gain, 1.5f);
    plan.eqSettings.bands[10].gain = 0.0f;
    plan.eqSettings.bands[11].gain = 0.0f;

    const float wetDryMix = clampf(0.55f + 0.15f * wDef + 0.2f * cDef + 0.1f * dDef - 0.3f * std::max(S - 0.85f, 0.0f),
                                   0.55f, 0.75f);

    // An unmeasured true peak (−120) leaves the mono-mix peak in charge.
    const float monoPeakDB = details.peakLevel > 0.0 ? 20.0f * std::log10(float(details.peakLevel)) : -120.0f;
    const float peakDB = std::max(monoPeakDB, float(details.truePeakDB));
    const float headroom = std::max(0.8f + 0.2f * sideGain, 1.1f);
    const float v = peakDB - headroom;
    float threshold = v >= -0.8f ? -0.8f : std::max(v, -2.0f);
    if (D < 0.75f) {
        threshold = std::max(threshold, -1.0f);
    }

    report.targetLUFS = targetLUFS;
    report.limitThreshold = threshold;

    auto& notes = report.notes;
    if (std::fabs(targetLUFS - inputLUFS) > 2.5f) {
        notes.emplace_back("Loudness shift needed");
    }
    if (std::any_of(report.bandGains.begin(), report.bandGains.end(), [](float g) { return std::fabs(g) >= 3.0f; })) {
        notes.emplace_back("EQ corrections are significant");
    }
    if (peakDB > -0.5f) {
        notes.emplace_back("Peak close to 0 dBFS");
    }
    if (sideGain > 0.5f) {
        notes.emplace_back("Side widening active");
    }
    if (threshold <= -1.0f) {
        notes.emplace_back("True-peak safety margin");
    }
    notes.emplace_back("Pre-gain applied");
    if (strength < 0.75f) {
        notes.emplace_back("Identity preserved");
    }
    if (wetDryMix < 0.8f) {
        notes.emplace_back("Wet/Dry blend active");
    }
    if (spaceExcess > 0.0f || warmthExcess > 0.0f || clarityExcess > 0.0f || midExcess > 0.0f) {
        notes.emplace_back("Balance cuts applied");
    }

    plan.settings.targetLUFS = targetLUFS;
    plan.settings.limitThreshold = threshold;
    plan.sideGainDB = sideGain;
    plan.wetDryMix = wetDryMix;
    plan.preGainDB = -7.0f;
    plan.report = std::move(report);
    return plan;
}

} // namespace orvanta
