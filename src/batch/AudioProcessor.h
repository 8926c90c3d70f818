#pragma once

#include "batch/MasteringEvent.h"
#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta {

// A master made before under a higher ceiling. A run given it renders the same source again from the
// same gain, tempo and soft-clip depth, without measuring anew, and aims at the earlier master's
// loudness (within 0.1 LU in up to three passes), so that a master made again under a lowered
// ceiling sounds as loud as the first.
struct EarlierMaster {
    float gain = 1.0f;            // linear gain of its accepted pass
    float lufs = 0.0f;            // its loudness
    float softClipDepthDb = 0.0f; // the soft clipper's depth it was made with, dB
    int bpm = 0;
    AudioStats inputStats;        // its source's figures
    float bandLimitHz = 0.0f;     // the new master's low-pass before the true-peak limiter (MasteringChain), Hz; 0: none
    // Passes already made through the same chain (DJMasteringResult::ceilingRelativePasses): the new
    // master's first gain is modelled from them instead of starting at `gain`.
    std::vector<MeasuredPass> ceilingRelativePasses;
};

// Masters one file. Master mode: measure, detect tempo, gain-stage and limit in up to three passes
// until the output is within 0.3 LU of the target; the result is <base>_master.wav in the private
// temporary directory. EQ mode (applyEQ with enabled settings): render the EQ into <base>_final.wav.
// Synchronous; runs on a worker thread. Reports progress 0…1, and its steps as events to `events`
// (may be empty) on the calling thread; `resetChecklist` marks the run's first event as the start of
// a new checklist. Throws the engine's errors (cancellation: Orvanta/100, possibly inside the
// "Audio processing failed" wrapper; Orvanta/6 for input too short or too silent to measure, before
// anything is rendered) or the platform's file errors. `threads` says how the measuring and the
// passes use the cores (the EQ render keeps its own threads). With `fixedGainDb` (an album's songs
// after the first) master mode renders one pass at that gain instead of seeking the target, and EQ
// mode passes the equalised master through the chain at unity gain: the level relations between the
// songs stay. With `earlier`, master mode makes that master again under `limitThreshold`.

class AudioProcessor {
public:
    static DJMasteringResult processAudio(const std::filesystem::path& input, const ProgressCallback& progress,
                                          const CancellationQuery& isCancelled, bool applyEQ,
                                          const std::optional<EQSettings>& eqSettings, bool resetChecklist,
                                          float targetLUFS, float limitThreshold,
                                          const MasteringEventSink& events = {},
                                          WorkThreads threads = WorkThreads::pipelined,
                                          std::optional<float> fixedGainDb = std::nullopt,
                                          const std::optional<EarlierMaster>& earlier = std::nullopt);

    // The input's last path component without extension, cut before "_master" and then "_final".
    static std::string baseName(const std::filesystem::path& input);
};

} // namespace orvanta
