#pragma once

#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"

#include <array>
#include <functional>
#include <optional>

namespace orvanta {

// What a mastering run tells its observer, as data: each event marks a step of the run and carries
// the figures of that step. The run does not know how a screen or a terminal words it; the status
// manager turns these events into the stage texts and checklist lines.
enum class MasteringEventKind {
    // Master mode.
    measuringInput,     // the run starts measuring its input; freshChecklist: the run starts a new checklist
    inputMeasured,      // stats: the input's figures; targetLUFS
    detectingTempo,     // tempo detection starts
    tempoDetected,      // bpm
    gainComputed,       // gainDb: target − input loudness
    alreadyAtTarget,    // the input is within 0.3 LU of the target: one pass at unity gain follows
    multiPassPlanned,   // gainDb: target − input loudness; passes follow until the target is met
    passStarted,        // pass (1…3), gainDb of the pass, limitThreshold; singlePass
    passVerifying,      // pass rendered, its output is being judged
    targetReached,      // stats: the accepted pass's output
    lastPassAccepted,   // stats: the third pass, accepted short of the target
    masteringComplete,  // stats; targetReached false: the loudest clean result; singlePass
    // EQ mode (the final version of a reference pass).
    equalizing,         // the EQ render starts
    equalizingFinalCurve, // the EQ render is past half-way
    equalizingComplete, // stats: the final file's figures
    // Around the pipeline.
    referenceMatched,     // bandLevels: the master's 12-band levels; matchedEQ: the EQ that matches them
    finalLevelsMeasured,  // bandLevels: the final version's 12-band levels; matchedEQ as above
    referenceUnmatchable, // a final pass without reference levels: the master is the final version
    correctionStarted,    // the analyzer's correction render starts (new checklist)
    correctionApplied,    // the analyzer's correction is rendered
};

struct MasteringEvent {
    explicit MasteringEvent(MasteringEventKind eventKind = MasteringEventKind::measuringInput) : kind(eventKind) {}

    MasteringEventKind kind;
    AudioStats stats;           // input or output figures, as the kind says
    float targetLUFS = 0.0f;    // the run's target, LUFS
    float limitThreshold = 0.0f; // the run's ceiling, dBFS
    float gainDb = 0.0f;        // dB, as the kind says
    int bpm = 0;                // detected tempo
    int pass = 0;               // limiting pass number, 1…3
    bool singlePass = false;    // the run makes its one transparent pass
    bool freshChecklist = true; // the run begins a checklist of its own
    bool targetReached = true;  // the output is within reach of the target
    std::optional<float> gainLimitDb; // masteringComplete: the gain bound that kept the target out of reach, dB
    std::array<float, 12> bandLevels{}; // 0…10 per EQ band centre
    EQSettings matchedEQ;       // the reference-matched EQ
};

// Receives a run's events on the run's thread, in order. May be empty.
using MasteringEventSink = std::function<void(const MasteringEvent&)>;

} // namespace orvanta
