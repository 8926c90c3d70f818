#pragma once

#include "analyzer/AnalyzerPlan.h"
#include "batch/ExportFormat.h"
#include "batch/MasteringEvent.h"
#include "engine/ProcessingTypes.h"
#include "eq/EQSettings.h"
#include "eq/ReferenceSpectrum.h"
#include "platform/Error.h"
#include "platform/TpdfDither.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// The three passes over one song.
enum class MasteringPass {
    master,          // the song into <base>_master.wav
    referenceFinal,  // a master, equalised towards a reference, into <base>_final.wav
    correctedMaster, // the analyzer's correction of the song, mastered into <base>_analyzer_eq_master.wav
};

// The reference a final pass matches: its tonal balance, or for a profile stored before the balance
// was measured only its 12-band levels, and how much of the difference to correct.
struct ReferenceMatch {
    BandLevels levels{};
    float strengthPercent = 0.0f; // MatchStrength.h
    std::optional<TonalBalance> balance;
};

// The match of a reference analysed into `profile` at `strengthPercent`.
ReferenceMatch referenceMatchOf(const SpectralProfile& profile, float strengthPercent);

struct MasteringOptions {
    std::filesystem::path input; // the song; for a referenceFinal pass, its master
    MasteringPass pass = MasteringPass::master;
    float targetLUFS = -8.0f;     // LUFS (a correctedMaster pass takes its plan's)
    float limitThreshold = -0.3f; // dBFS (a correctedMaster pass takes its plan's)
    // referenceFinal: the balance (or levels) to match; without them (no balance with content and all
    // levels 0) the final version is the master itself, measured again.
    std::optional<ReferenceMatch> reference;
    std::optional<AnalyzerPlan> plan; // correctedMaster: the correction to render before mastering
    ExportFormat format = ExportFormat::wav; // the result is converted into this format
    DitherShape dither = DitherShape::flat;  // the noise of a 16-bit result's dither
    // The result's rate, Hz: the song is resampled to it before it is mastered, so the limiter holds
    // the ceiling at that rate. None (or the song's own rate): the song's rate.
    std::optional<int> sampleRate;
    CancellationQuery isCancelled;           // asked before every block; may be empty
    ProgressCallback progress;               // 0…1 of the pass; may be empty
    MasteringEventSink events;               // the pass's steps; may be empty
    WorkThreads threads = WorkThreads::pipelined; // oneThread for one of several runs sharing the cores
    // master and referenceFinal: the gain an album chose for every song, in place of seeking the target
    // (AudioProcessor::processAudio)
    std::optional<float> fixedGainDb;
};

// How a lossy result was made to keep the ceiling.
struct LossyEncodingReport {
    int encodings = 0;            // whole-file encodings
    int remasters = 0;            // masters made again under a lowered ceiling
    float masterCeilingDb = 0.0f; // the ceiling of the master encoded, dBTP
};

// What a pass produced.
struct MasteredFile {
    ProcessingResult result;                   // the file in the export format and its figures
    std::optional<DJMasteringResult> pipeline; // the pipeline's own result; none when the pipeline did
                                               // not run (a final pass without a usable reference)
    bool conversionFailed = false;             // the export conversion failed; result is the WAV
    std::optional<Error> conversionError;      // why it failed
    std::vector<std::string> notes;            // what the user should know ("... resampled to 48 kHz")
    std::optional<LossyEncodingReport> encoding; // a lossy result encoded by the pass
    std::optional<EQSettings> matchedEQ;       // referenceFinal with a reference: the EQ it applied
    std::optional<BandLevels> inputLevels;     // referenceFinal with a reference: the master's 12-band levels
    std::optional<BandLevels> outputLevels;    // and the final version's
};

// Runs one pass over one file: no event loop, no preference, no shared state beyond the render
// engine. Every file of the pass is written to the private temporary directory; the result stays
// there for the caller to publish. Synchronous; any thread. Throws the engine's and the platform's
// errors (Orvanta/3 "Input file not found at path: ..." when the input is gone; Orvanta/100 when
// cancelled). A failed conversion is no failure: the WAV is the result, with conversionFailed set.
MasteredFile masterFile(const MasteringOptions& options);

// A failure as the one error type: engine and platform errors as they are, anything else (memory,
// the standard library's file system) with its own text. Any thread.
Error errorFrom(const std::exception& failure);

} // namespace orvanta
