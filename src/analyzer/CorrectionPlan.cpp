#include "analyzer/CorrectionPlan.h"

#include "engine/SettingRanges.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

constexpr const char* targetLoudnessKey = "targetLoudness";
constexpr size_t bandCount = 12;

// Levelling: how far each band is pulled towards the bands' mean, and the most it may move.
constexpr float levellingFactor = 1.2f;
constexpr float levellingLimitDb = 4.0f;

// The shares and scores a balanced song reaches; below them a song is short of that quality.
constexpr float fullSideShare = 0.18f;   // side energy of a song that sounds wide enough
constexpr float fullSubBassShare = 0.08f;
constexpr float fullBassShare = 0.22f;
constexpr float fullHighMidShare = 0.22f;
constexpr float fullMidShare = 0.78f;
constexpr float fullLowMidShare = 0.27f; // above it the low mids are cut
constexpr float crowdedLowMidShare = 0.3f; // above it a warmth boost is held back
constexpr float heldBackWarmth = 0.6f;

// The balance target's bounds: the mean of the scores, kept within a sensible middle.
constexpr float lowestBalanceTarget = 0.7f;
constexpr float highestBalanceTarget = 0.85f;

// The plan's gain limits, dB.
constexpr float bandLimitDb = 6.0f;
constexpr float brightBandLimitDb = 2.0f;  // 8 kHz: boosts there turn harsh first
constexpr float airBandLimitDb = 1.5f;     // 12 kHz
constexpr float preGainDb = -7.0f;

// An unmeasured peak, dB.
constexpr float unmeasuredPeakDb = -120.0f;

// How far short of a full score a song is, each never negative.
struct Shortfalls {
    float warmth = 0, clarity = 0, side = 0, dynamics = 0;
};

Shortfalls shortfallsOf(float warmth, float clarity, float dynamics, float sideShare) {
    Shortfalls s;
    s.warmth = std::max(1.0f - warmth, 0.0f);
    s.clarity = std::max(1.0f - clarity, 0.0f);
    s.side = std::max((fullSideShare - sideShare) / fullSideShare, 0.0f);
    s.dynamics = std::max(1.0f - dynamics, 0.0f);
    return s;
}

// The tonal moves the plan makes, dB, before they are spread over the bands.
struct ToneMoves {
    float lowEnd = 0, warmthBoost = 0, clarityBoost = 0, highBoost = 0, midBoost = 0, sideEQ = 0;
    float lowMidCut = 0, highMidCut = 0, midCut = 0;
};

// The side channel's raw widening: more the more centred and narrow a song is, less the more
// spacious it already sounds.
float rawSideWidening(float midShare, float sideShortfall, float spaciousness) {
    return std::min(std::clamp((midShare - 0.65f) / 0.2f, 0.2f, 1.0f) * std::min(3.0f * sideShortfall, 3.0f) *
                        std::clamp(1.0f - spaciousness, 0.2f, 1.0f),
                    3.0f);
}

float balanceTargetOf(const AudioAnalysisResult& result) {
    const auto& details = result.analysisDetails;
    const double scoreMean = (double(result.warmth) + result.clarity + result.dynamics + result.spaciousness +
                              details.midEnergyRatio + details.sideEnergyRatio) /
                             6.0;
    return std::clamp(float(scoreMean), lowestBalanceTarget, highestBalanceTarget);
}

// The levelling gains scaled by the plan's strength, plus each band's share of the tonal moves;
// every band within its limit, the top two flat.
std::array<float, bandCount> bandGainsOf(const std::vector<float>& levellingGains, float strength, const ToneMoves& m) {
    const float corrections[bandCount] = {
        0.8f * m.lowEnd,
        0.8f * m.lowEnd + 0.5f * m.warmthBoost,
        m.lowEnd + 0.85f * m.warmthBoost,
        m.warmthBoost - 0.7f * m.lowMidCut,
        0.7f * m.warmthBoost + 0.4f * m.midBoost - 0.4f * m.midCut - 0.9f * m.lowMidCut,
        0.6f * m.midBoost + 0.6f * m.sideEQ - 0.7f * m.midCut - 0.4f * m.lowMidCut,
        m.clarityBoost + 0.5f * m.highBoost + 0.4f * m.sideEQ + 0.5f * m.midBoost - 0.6f * m.highMidCut -
            0.5f * m.midCut,
        0.8f * m.clarityBoost + 0.9f * m.highBoost - m.highMidCut,
        0.6f * m.clarityBoost + 1.1f * m.highBoost - 0.8f * m.highMidCut,
        0.4f * m.clarityBoost + 0.8f * m.highBoost,
        0.0f,
        0.0f,
    };
    std::array<float, bandCount> gains{};
    for (size_t i = 0; i < bandCount; ++i) {
        gains[i] = std::clamp(strength * levellingGains[i] + corrections[i], -bandLimitDb, bandLimitDb);
    }
    gains[8] = std::min(gains[8], brightBandLimitDb);
    gains[9] = std::min(gains[9], airBandLimitDb);
    gains[10] = 0.0f;
    gains[11] = 0.0f;
    return gains;
}

// How much of the levelling the EQ applies: more for a song further from a good one, but never all.
float eqStrengthOf(const Shortfalls& s) {
    return std::clamp(0.6f + 0.1f * s.warmth + 0.2f * s.clarity + 0.1f * s.dynamics, 0.55f, 0.85f);
}

float wetDryMixOf(const Shortfalls& s, float spaciousness) {
    return std::clamp(
        0.55f + 0.15f * s.warmth + 0.2f * s.clarity + 0.1f * s.dynamics - 0.3f * std::max(spaciousness - 0.85f, 0.0f),
        0.55f, 0.75f);
}

// The song's highest peak, dB: the true peak, or the mono mix's peak where that is higher or the true
// peak was not measured.
float peakDbOf(const AudioAnalysisResult::AnalysisDetails& details) {
    const float monoPeakDB = details.peakLevel > 0.0 ? 20.0f * std::log10(float(details.peakLevel)) : unmeasuredPeakDb;
    return std::max(monoPeakDB, float(details.truePeakDB));
}

// The limiter's threshold: the peak less a headroom that grows with the side gain, within −2…−0.8 dB;
// a dense song (low dynamics) keeps at least −1 dB.
float limiterThresholdOf(float peakDB, float sideGain, float dynamics) {
    const float headroom = std::max(0.8f + 0.2f * sideGain, 1.1f);
    const float v = peakDB - headroom;
    float threshold = v >= -0.8f ? -0.8f : std::max(v, -2.0f);
    if (dynamics < 0.75f) {
        threshold = std::max(threshold, -1.0f);
    }
    return threshold;
}

std::vector<std::string> notesOf(const AnalyzerReport& report, float inputLUFS, float peakDB, float strength,
                                 float wetDryMix) {
    std::vector<std::string> notes;
    if (std::fabs(report.targetLUFS - inputLUFS) > 2.5f) {
        notes.emplace_back("Loudness shift needed");
    }
    if (std::any_of(report.bandGains.begin(), report.bandGains.end(), [](float g) { return std::fabs(g) >= 3.0f; })) {
        notes.emplace_back("EQ corrections are significant");
    }
    if (peakDB > -0.5f) {
        notes.emplace_back("Peak close to 0 dBFS");
    }
    if (report.sideGainDB > 0.5f) {
        notes.emplace_back("Side widening active");
    }
    if (report.limitThreshold <= -1.0f) {
        notes.emplace_back("True-peak safety margin");
    }
    notes.emplace_back("Pre-gain applied");
    if (strength < 0.75f) {
        notes.emplace_back("Identity preserved");
    }
    if (wetDryMix < 0.8f) {
        notes.emplace_back("Wet/Dry blend active");
    }
    if (report.spaceExcess > 0.0f || report.warmthExcess > 0.0f || report.clarityExcess > 0.0f ||
        report.midExcess > 0.0f) {
        notes.emplace_back("Balance cuts applied");
    }
    return notes;
}

} // namespace

std::vector<float> smoothGains(const std::vector<float>& bandValues) {
    std::vector<float> smoothed(bandCount, 0.0f);
    if (bandValues.size() != bandCount) {
        return smoothed;
    }
    float sum = 0.0f;
    for (float v : bandValues) {
        sum += v;
    }
    const float mean = sum / float(bandCount);
    std::vector<float> raw(bandCount);
    for (size_t i = 0; i < bandCount; ++i) {
        raw[i] = std::clamp((mean - bandValues[i]) * levellingFactor, -levellingLimitDb, levellingLimitDb);
    }
    // (1, 2, 1) ÷ 4 with the edge values repeated.
    smoothed[0] = (3.0f * raw[0] + raw[1]) / 4.0f;
    for (size_t i = 1; i < bandCount; ++i) {
        smoothed[i] = (raw[i - 1] + 2.0f * raw[i] + raw[std::min(i + 1, bandCount - 1)]) / 4.0f;
    }
    for (float& g : smoothed) {
        g = std::clamp(g, -levellingLimitDb, levellingLimitDb);
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
    const float warmth = float(result.warmth);
    const float clarity = float(result.clarity);
    const float dynamics = float(result.dynamics);
    const float spaciousness = float(result.spaciousness);
    const float midShare = float(details.midEnergyRatio);
    const float sideShare = float(details.sideEnergyRatio);
    const float subBassShare = float(balance.subBass);
    const float bassShare = float(balance.bass);
    const float lowMidShare = float(balance.lowMid);
    const float highMidShare = float(balance.highMid);

    AnalyzerReport report;
    report.inputLUFS = inputLUFS;
    report.inputPeak = inputPeak;
    report.inputRMS = inputRMS;
    report.bandValues = bandValues;
    report.bandGains = smoothGains(bandValues);

    const Shortfalls shortfall = shortfallsOf(warmth, clarity, dynamics, sideShare);
    report.warmthDeficitPercent = int(100.0f * shortfall.warmth);
    report.clarityDeficitPercent = int(100.0f * shortfall.clarity);
    report.sideDeficitPercent = int(100.0f * shortfall.side);

    // What is missing is boosted; what stands out beyond the balance target is cut.
    ToneMoves moves;
    moves.warmthBoost = std::min(4.5f * shortfall.warmth, 4.0f);
    if (lowMidShare > crowdedLowMidShare) {
        moves.warmthBoost *= heldBackWarmth;
    }
    moves.clarityBoost = std::min(6.0f * shortfall.clarity, 5.0f);
    const float sideRaw = rawSideWidening(midShare, shortfall.side, spaciousness);
    report.balanceTarget = balanceTargetOf(result);
    report.spaceExcess = std::max(spaciousness - report.balanceTarget, 0.0f);
    report.warmthExcess = std::max(warmth - report.balanceTarget, 0.0f);
    report.clarityExcess = std::max(clarity - report.balanceTarget, 0.0f);
    report.midExcess = std::max(midShare - report.balanceTarget, 0.0f);
    report.spaceSideTrimDB = 6.0f * report.spaceExcess;
    report.sideGainDB = std::clamp(std::max(sideRaw, 0.0f) - report.spaceSideTrimDB, -4.0f, 2.0f);

    moves.lowEnd = std::min(2.5f * (2.5f * std::max((fullSubBassShare - subBassShare) / fullSubBassShare, 0.0f) +
                                    1.5f * std::max((fullBassShare - bassShare) / fullBassShare, 0.0f)),
                            4.0f);
    moves.highBoost = std::min(4.0f * std::max((fullHighMidShare - highMidShare) / fullHighMidShare, 0.0f), 4.0f);
    moves.midBoost = std::clamp(2.5f * (fullMidShare - midShare) / fullMidShare, 0.0f, 2.0f);
    moves.sideEQ = std::min(0.45f * std::max(sideRaw, 0.0f), 2.0f);
    moves.lowMidCut = (lowMidShare >= fullLowMidShare
                           ? std::min(2.5f * (lowMidShare - fullLowMidShare) / fullLowMidShare, 2.0f)
                           : 0.0f) +
                      std::clamp(2.0f * report.warmthExcess, 0.0f, 1.5f);
    moves.highMidCut = std::clamp(2.5f * report.clarityExcess, 0.0f, 2.0f);
    moves.midCut = std::clamp(2.0f * report.midExcess, 0.0f, 1.5f);

    report.warmthBoostDB = moves.warmthBoost;
    report.clarityBoostDB = moves.clarityBoost;
    report.lowMidCutDB = moves.lowMidCut;
    report.highMidCutDB = moves.highMidCut;
    report.midCutDB = moves.midCut;

    const float strength = eqStrengthOf(shortfall);
    AnalyzerPlan plan;
    plan.eqSettings.isEnabled = true;
    plan.eqSettings.masterGain = 0.0f;
    plan.eqSettings.isAutoReferenceMode = false;
    plan.eqSettings.bands.resize(bandCount);
    const std::array<float, bandCount> gains = bandGainsOf(report.bandGains, strength, moves);
    for (size_t i = 0; i < bandCount; ++i) {
        EQBand& band = plan.eqSettings.bands[i];
        band.frequency = planBandFrequencies[i];
        band.q = planBandQs[i];
        band.type = EQBandType::peaking;
        band.gain = gains[i];
    }

    const float wetDryMix = wetDryMixOf(shortfall, spaciousness);
    const float peakDB = peakDbOf(details);
    report.targetLUFS = targetLUFS;
    report.limitThreshold = limiterThresholdOf(peakDB, report.sideGainDB, dynamics);
    report.notes = notesOf(report, inputLUFS, peakDB, strength, wetDryMix);

    plan.settings.targetLUFS = targetLUFS;
    plan.settings.limitThreshold = report.limitThreshold;
    plan.sideGainDB = report.sideGainDB;
    plan.wetDryMix = wetDryMix;
    plan.preGainDB = preGainDb;
    plan.report = std::move(report);
    return plan;
}

} // namespace orvanta
