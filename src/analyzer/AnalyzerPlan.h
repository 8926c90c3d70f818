#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"

#include <string>
#include <vector>

namespace orvanta {

// Every intermediate figure of a correction plan, with its notes.
struct AnalyzerReport {
    float inputLUFS = 0, inputPeak = 0, inputRMS = 0;
    float targetLUFS = 0, limitThreshold = 0;
    std::vector<float> bandValues; // the 12 input band levels as passed
    std::vector<float> bandGains;  // smoothed per-band gains
    int warmthDeficitPercent = 0, clarityDeficitPercent = 0, sideDeficitPercent = 0;
    float warmthBoostDB = 0, clarityBoostDB = 0, sideGainDB = 0, balanceTarget = 0;
    float spaceExcess = 0, warmthExcess = 0, clarityExcess = 0, midExcess = 0;
    float spaceSideTrimDB = 0, lowMidCutDB = 0, highMidCutDB = 0, midCutDB = 0;
    std::vector<std::string> notes;

    bool operator==(const AnalyzerReport&) const = default;
};

// What the analyzer's repair renders and masters.
struct AnalyzerPlan {
    DJMasteringSettings settings; // target and ceiling of the mastering run
    EQSettings eqSettings;        // 12 peaking bands, enabled
    float sideGainDB = 0;
    float wetDryMix = 0.65f;      // share of the processed signal
    float preGainDB = -7.0f;
    AnalyzerReport report;

    bool operator==(const AnalyzerPlan&) const = default;
};

} // namespace orvanta
