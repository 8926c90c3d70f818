#include "batch/AudioProcessor.h"

#include "engine/GainStaging.h"
#include "engine/LimiterPass.h"
#include "engine/LoudnessMeter.h"
#include "engine/MasteringChain.h"
#include "engine/PassOutput.h"
#include "engine/ProcessingErrors.h"
#include "engine/TempoDetector.h"
#include "engine/WorkExecutor.h"
#include "eq/AudioEngine.h"
#include "platform/DecodedInput.h"
#include "platform/FileOperations.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <cmath>
#include <vector>

namespace orvanta {

namespace fs = std::filesystem;

namespace {

constexpr float convergenceLU = 0.3f;
// A master made again under a lowered ceiling lands this close to the earlier one's loudness.
constexpr float remasterLU = 0.1f;
// Where the clean chain falls short of a target of −8 LUFS or quieter, the soft clipper may take up to
// this much from a peak (louder targets have their own depth, softClipDepthFor).
constexpr float fallbackSoftClipDb = 1.5f;
constexpr int maximumPasses = 3;
// Later passes never go further than this above the first pass's gain: a real song lands within a
// few dB of it, and only audio that is mostly silence or isolated clicks asks for more, where more gain
// only buys more limiting.
constexpr float largestGainAboveFirstDb = 24.0f;

bool withinTarget(float lufs, float targetLUFS) { return std::fabs(lufs - targetLUFS) <= convergenceLU; }

// A pass the run may throw away is held in memory, or beyond its budget written to its own file in the
// temporary directory; a pass the run will most likely keep (its gain modelled on passes before it,
// or the run's only pass) is written to that file as it is made. A result name (_master, _final) only
// ever holds a complete file, so a failed or cancelled run never leaves a partial file where a caller
// would take it for a result.
PassOutput passOutput(int pass, PassKeeping keeping) {
    return PassOutput(privateTemporaryDirectory() /
                          ("temp_iteration_" + std::to_string(pass) + "_" + newUuidString() + ".wav"),
                      keeping);
}

fs::path finalRenderFile() { return privateTemporaryDirectory() / ("temp_final_" + newUuidString() + ".wav"); }

// Deletes an older result before the run writes it; the input itself is never deleted.
void prepareResultPath(const fs::path& input, const fs::path& result) {
    if (isSameFile(input, result)) {
        throw inputWouldBeOverwrittenError(input);
    }
    if (fileExists(result)) {
        removeFile(result);
    }
}

// The EQ render engine reports its second half as a stage; the run passes that on as an event.
class EqualizingReporter final : public StatusReporter {
public:
    explicit EqualizingReporter(const std::function<void()>& onFinalCurve) : onFinalCurve_(onFinalCurve) {}
    void updateStage(ProcessingStage, const std::string&, const std::string&) override { onFinalCurve_(); }
    void addChecklistItem(const std::string&, const std::string&) override {}
    void completeChecklistItem(const std::string&, const std::string&, const std::string&, bool) override {}
    void unhighlightChecklistItem(const std::string&) override {}
    void resetChecklist() override {}

private:
    const std::function<void()>& onFinalCurve_;
};

// Parts of a decoding on the executor's threads; nothing with one thread, which reads in one go.
DecodedInput::ForEachPart sideBySide(WorkExecutor& executor) {
    if (executor.isOneThread()) return {};
    return [&executor](uint32_t parts, const std::function<void(uint32_t)>& job) { executor.forEach(parts, job); };
}

float decibels(float linearGain) { return 20.0f * std::log10(linearGain); }

class Run {
public:
    Run(const fs::path& input, const ProgressCallback& progress, const CancellationQuery& isCancelled,
        float targetLUFS, float limitThreshold, const MasteringEventSink& events, WorkThreads threads,
        std::optional<float> fixedGainDb, const std::optional<EarlierMaster>& earlier)
        : input_(input), progress_(progress), isCancelled_(isCancelled), target_(targetLUFS),
          threshold_(limitThreshold), events_(events), threads_(threads), fixedGainDb_(fixedGainDb),
          earlier_(earlier), softClipDepthDb_(earlier ? earlier->softClipDepthDb : softClipDepthFor(targetLUFS)),
          aim_(earlier ? earlier->lufs : targetLUFS), tolerance_(earlier ? remasterLU : convergenceLU) {}

    void report(double value) const {
        if (progress_) {
            progress_(value);
        }
    }

    void checkCancelled() const {
        if (isCancelled_ && isCancelled_()) {
            throw cancellationError();
        }
    }

    // Tells the observer about a step; the run's target and ceiling ride along with every event.
    void tell(MasteringEvent event) const {
        if (!events_) return;
        event.targetLUFS = target_;
        event.limitThreshold = threshold_;
        events_(event);
    }
    void tell(MasteringEventKind kind) const { tell(MasteringEvent{kind}); }
    void tellStats(MasteringEventKind kind, const AudioStats& stats) const {
        MasteringEvent event{kind};
        event.stats = stats;
        tell(event);
    }

    DJMasteringResult eqMode(const EQSettings& settings) {
        tell(MasteringEventKind::equalizing);
        const fs::path finalURL = privateTemporaryDirectory() / (AudioProcessor::baseName(input_) + "_final.wav");
        prepareResultPath(input_, finalURL);

        // The equalised master goes through the chain again: the EQ moves its loudness and may lift
        // its peaks, and the final must keep the run's target and ceiling like the master.
        const fs::path equalised = finalRenderFile();
        const ProgressCallback renderProgress = [this](double f) { report(0.5 * f); };
        const std::function<void()> finalCurve = [this] { tell(MasteringEventKind::equalizingFinalCurve); };
        EqualizingReporter renderStatus(finalCurve);
        AudioEngine().remasterWithEQ(input_, equalised, settings, renderProgress, renderStatus);
        Convergence converged;
        try {
            checkCancelled();
            const DecodedInput decoded(equalised);
            const AudioStats equalisedStats = earlier_ ? earlier_->inputStats : analyzeAudioFile(equalised, threads_);
            requireMeasurable(equalisedStats);
            bpm_ = earlier_ ? earlier_->bpm : detectTempo(equalised);
            inStats_ = equalisedStats;
            if (earlier_) {
                converged = converge(equalised, equalisedStats, earlier_->gain, 0.5, 0.45, false,
                                     earlier_->ceilingRelativePasses);
            } else if (fixedGainDb_) {
                converged = fixedGainPass(equalised, 1.0f, 0.5, 0.45);
            } else {
                const float firstGain = withinTarget(equalisedStats.lufs, target_)
                                            ? 1.0f
                                            : initialGain(equalisedStats.lufs, equalisedStats.peak, target_);
                converged = converge(equalised, equalisedStats, firstGain, 0.5, 0.45, false);
            }
            converged.kept.placeAt(finalURL);
        } catch (...) {
            removeFileQuietly(equalised);
            throw;
        }
        removeFileQuietly(equalised);
        report(0.95);

        tellStats(MasteringEventKind::equalizingComplete, converged.stats);
        report(1.0);
        DJMasteringResult result;
        result.outputURL = finalURL;
        result.stats = converged.stats;
        result.gainReduction = std::move(converged.gainReduction);
        result.totalGain = converged.gain;
        describeChain(result, converged);
        return result;
    }

    DJMasteringResult masterMode(bool resetChecklist) {
        MasteringEvent start{MasteringEventKind::measuringInput};
        start.freshChecklist = resetChecklist;
        tell(start);
        const fs::path masterURL = privateTemporaryDirectory() / (AudioProcessor::baseName(input_) + "_master.wav");
        prepareResultPath(input_, masterURL);

        // The meter, the tempo and every pass read the song decoded once; with two threads, its two
        // halves are decoded side by side, and the tempo is found while the meter reads. The steps
        // are told in order.
        WorkExecutor beside(threads_);
        const DecodedInput decoded(input_, sideBySide(beside));
        if (earlier_) return remaster(masterURL);
        int bpm = 0;
        WorkExecutor::Pending tempoFound;
        if (!beside.isOneThread()) tempoFound = beside.start([this, &bpm] { bpm = detectTempo(input_); });
        const AudioStats inStats = analyzeAudioFile(input_, threads_);
        inStats_ = inStats;
        // Without a measured loudness there is no gain to choose: the floor of the meter would ask
        // for hundreds of decibels.
        requireMeasurable(inStats);
        report(0.05);
        tellStats(MasteringEventKind::inputMeasured, inStats);

        checkCancelled();
        tell(MasteringEventKind::detectingTempo);
        if (tempoFound.valid()) {
            tempoFound.wait();
        } else {
            bpm = detectTempo(input_);
        }
        bpm_ = bpm;
        report(0.1);
        MasteringEvent tempo{MasteringEventKind::tempoDetected};
        tempo.bpm = bpm_;
        tell(tempo);

        checkCancelled();
        MasteringEvent gain{MasteringEventKind::gainComputed};
        gain.gainDb = target_ - inStats.lufs;
        tell(gain);

        if (fixedGainDb_) return albumPass(masterURL, std::pow(10.0f, *fixedGainDb_ / 20.0f));
        if (withinTarget(inStats.lufs, target_)) {
            return singlePass(masterURL);
        }
        return multiPass(masterURL, inStats);
    }

private:
    // The earlier master again, under this run's ceiling, as loud as it was.
    DJMasteringResult remaster(const fs::path& masterURL) {
        inStats_ = earlier_->inputStats;
        bpm_ = earlier_->bpm;
        Convergence result =
            converge(input_, inStats_, earlier_->gain, 0.1, 0.85, false, earlier_->ceilingRelativePasses);
        // Under a lower ceiling a chain that reached the loudness cleanly may fall short of it.
        result = softClippedWhereShort(inStats_, std::move(result), false);
        result.kept.placeAt(masterURL);
        report(1.0);
        return resultOf(masterURL, std::move(result), true, std::nullopt);
    }

    // Renders one pass; every failure of a pass, its cancellation included, reaches the caller as
    // "Audio processing failed" with the cause's code and the cause attached.
    // Returns the meter's figures of the pass, measured as it was written, and its gain reduction.
    LimiterPassReport renderPass(const fs::path& source, PassOutput& output, float gain, double progressStart,
                                 double progressSpan) {
        const ProgressCallback passProgress = [this, progressStart, progressSpan](double fraction) {
            report(progressStart + fraction * progressSpan);
        };
        MasteringChainSettings settings = passChainSettings(gain, bpm_, target_, threshold_);
        settings.softClipDepthDb = softClipDepthDb_;
        settings.bandLimitHz = earlier_ ? earlier_->bandLimitHz : 0.0f;
        try {
            return renderLimiterPass(source, output, settings, passProgress, isCancelled_, threads_);
        } catch (const Error& cause) {
            // A cancelled or failed pass leaves no partial file in the temporary folder.
            output.discard();
            throw processingFailedError(cause);
        }
    }

    DJMasteringResult singlePass(const fs::path& masterURL) {
        tell(MasteringEventKind::alreadyAtTarget);
        report(0.15);
        announcePass(1, 1.0f, true);

        PassOutput rendered = passOutput(1, PassKeeping::written);
        LimiterPassReport pass = renderPass(input_, rendered, 1.0f, 0.15, 0.8);
        rendered.placeAt(masterURL);

        MasteringEvent complete{MasteringEventKind::masteringComplete};
        complete.stats = pass.stats;
        complete.singlePass = true;
        tell(complete);
        report(1.0);
        DJMasteringResult result;
        result.outputURL = masterURL;
        result.stats = pass.stats;
        result.passes = 1;
        result.gainReduction = std::move(pass.gainReduction);
        result.softClipDepthDb = softClipDepthDb_;
        result.softClipMaxDb = pass.softClipMaxDb;
        result.bpm = bpm_;
        result.inputStats = inStats_;
        return result;
    }

    void announcePass(int pass, float gain, bool singlePass) {
        MasteringEvent event{MasteringEventKind::passStarted};
        event.pass = pass;
        event.gainDb = decibels(gain);
        event.singlePass = singlePass;
        tell(event);
    }

    DJMasteringResult multiPass(const fs::path& masterURL, const AudioStats& inStats) {
        MasteringEvent planned{MasteringEventKind::multiPassPlanned};
        planned.gainDb = target_ - inStats.lufs;
        tell(planned);
        const float gain = initialGain(inStats.lufs, inStats.peak, target_);
        announcePass(1, gain, false);

        Convergence result = converge(input_, inStats, gain, 0.1, 0.85, true);
        result = softClippedWhereShort(inStats, std::move(result), true);
        result.kept.placeAt(masterURL);
        const AudioStats& outStats = result.stats;

        report(1.0);
        // Short of the target after the last pass: this is the loudest the chain gets without clipping.
        const bool reached = outStats.lufs >= target_ - convergenceLU;
        const std::optional<float> gainLimitDb = reached ? std::nullopt : result.gainLimitDb;
        MasteringEvent complete{MasteringEventKind::masteringComplete};
        complete.stats = outStats;
        complete.targetReached = reached;
        complete.gainLimitDb = gainLimitDb;
        tell(complete);
        if (!fileExists(masterURL)) {
            throw outputNotCreatedError();
        }
        return resultOf(masterURL, std::move(result), reached, gainLimitDb);
    }

    struct Convergence {
        AudioStats stats;
        int passes = 0;
        float gain = 1.0f;
        GainReductionEnvelope gainReduction; // of the kept pass
        std::optional<float> gainLimitDb;    // the bound, dB, when it held a pass's gain back
        float softClipMaxDb = 0.0f;          // the soft clipper's largest reduction in the kept pass, dB
        PassOutput kept;                     // its samples, for the caller to place
        std::vector<MeasuredPass> ceilingRelative; // the passes rendered, gain and loudness less the ceiling
    };

    // The soft clipper, tempo and source of the run, for a caller that makes the master again.
    void describeChain(DJMasteringResult& result, const Convergence& kept) const {
        result.softClipDepthDb = softClipDepthDb_;
        result.softClipMaxDb = kept.softClipMaxDb;
        result.bpm = bpm_;
        result.inputStats = inStats_;
    }

    DJMasteringResult resultOf(const fs::path& url, Convergence&& kept, bool reached,
                               std::optional<float> gainLimitDb) const {
        DJMasteringResult result;
        result.outputURL = url;
        result.stats = kept.stats;
        result.passes = kept.passes;
        result.totalGain = kept.gain;
        result.targetReached = reached;
        result.gainLimitDb = gainLimitDb;
        result.gainReduction = std::move(kept.gainReduction);
        result.ceilingRelativePasses = std::move(kept.ceilingRelative);
        describeChain(result, kept);
        return result;
    }

    // Where the clean chain (no soft clipper: a target of −8 LUFS or quieter) stayed short of the aim
    // (the target, or the earlier master's loudness) without its gain held at the bound, the passes
    // are made again with the soft clipper taking up to fallbackSoftClipDb from the peaks, starting
    // where the clean passes stopped plus the shortfall, and the result closer to the aim is kept.
    // Otherwise `clean` is the result.
    Convergence softClippedWhereShort(const AudioStats& inStats, Convergence clean, bool narrate) {
        if (!(clean.stats.lufs < aim_ - tolerance_) || clean.gainLimitDb || softClipDepthDb_ != 0.0f) return clean;
        softClipDepthDb_ = fallbackSoftClipDb;
        const float shortfallDb = aim_ - clean.stats.lufs;
        Convergence loud =
            converge(input_, inStats, clean.gain * std::pow(10.0f, shortfallDb / 20.0f), 0.1, 0.85, narrate);
        if (std::fabs(loud.stats.lufs - aim_) < std::fabs(clean.stats.lufs - aim_)) {
            loud.passes += clean.passes;
            return loud;
        }
        softClipDepthDb_ = 0.0f;
        clean.passes += loud.passes;
        return clean;
    }

    // One pass at a gain chosen for the whole album; its loudness is wherever that gain puts it.
    DJMasteringResult albumPass(const fs::path& masterURL, float gain) {
        announcePass(1, gain, true);
        Convergence pass = fixedGainPass(input_, gain, 0.15, 0.8);
        pass.kept.placeAt(masterURL);
        MasteringEvent complete{MasteringEventKind::masteringComplete};
        complete.stats = pass.stats;
        complete.singlePass = true;
        tell(complete);
        report(1.0);
        return resultOf(masterURL, std::move(pass), true, std::nullopt);
    }

    Convergence fixedGainPass(const fs::path& source, float gain, double progressStart, double progressSpan) {
        PassOutput rendered = passOutput(1, PassKeeping::written);
        LimiterPassReport pass = renderPass(source, rendered, gain, progressStart, progressSpan);
        return {pass.stats, 1, gain, std::move(pass.gainReduction), std::nullopt, pass.softClipMaxDb,
                std::move(rendered)};
    }

    // Renders `source` through the chain at `firstGain`, then at gains modelled from the passes so far,
    // until the output lies within 0.3 LU of the target or three passes are made, and returns the pass
    // kept, for the caller to place. Every pass renders from `source`. With `narrate`, the stages and
    // checklist of a master run are reported.
    // `known` are passes made before through the same chain, gain and loudness less the ceiling: with
    // them the first gain is modelled as every later one is, and `firstGain` only sets the bound.
    Convergence converge(const fs::path& source, const AudioStats& sourceStats, float firstGain,
                         double progressStart, double progressSpan, bool narrate,
                         const std::vector<MeasuredPass>& known = {}) {
        const int passLimit = maximumPasses;
        const double passSpan = progressSpan / passLimit;
        Convergence result;
        float gain = firstGain;
        const float gainBoundDb = 20.0f * std::log10(firstGain) + largestGainAboveFirstDb;
        std::optional<float> boundHeld;
        std::vector<MeasuredPass> measured;
        for (const MeasuredPass& pass : known) measured.push_back({pass.gainDb + threshold_, pass.lufs + threshold_});
        // The gain at which the source's true peak meets the ceiling: limiting starts there.
        const float sourcePeak = std::isfinite(sourceStats.truePeak) ? sourceStats.truePeak : sourceStats.peak;
        const float onsetGainDb = threshold_ - MasteringChain::ceilingMarginDb - sourcePeak;
        if (!measured.empty()) {
            const float modelled = modelledGain(sourceStats.lufs, onsetGainDb, measured, aim_);
            if (std::isfinite(modelled) && modelled > 0.0f) {
                gain = std::min(modelled, std::pow(10.0f, gainBoundDb / 20.0f));
            }
        }
        // The passes of this run, for the result.
        const auto withPasses = [&](Convergence&& kept) {
            for (size_t i = known.size(); i < measured.size(); ++i)
                kept.ceilingRelative.push_back({measured[i].gainDb - threshold_, measured[i].lufs - threshold_});
            return std::move(kept);
        };
        // The pass closest to the target is kept until a closer one comes: where the target lies beyond
        // what the chain gives cleanly, the run ends at the loudest clean result it has made.
        for (int pass = 1;; ++pass) {
            PassOutput rendered = passOutput(pass, measured.empty() ? PassKeeping::held : PassKeeping::written);
            LimiterPassReport rendering =
                renderPass(source, rendered, gain, progressStart + (pass - 1) * passSpan, passSpan);
            const AudioStats& outStats = rendering.stats;
            if (narrate) {
                MasteringEvent verifying{MasteringEventKind::passVerifying};
                verifying.pass = pass;
                tell(verifying);
            }
            measured.push_back({20.0f * std::log10(gain), outStats.lufs});
            const bool closer = result.kept.isEmpty() ||
                                std::fabs(outStats.lufs - aim_) < std::fabs(result.stats.lufs - aim_);
            if (closer) {
                result = {outStats, pass, gain, std::move(rendering.gainReduction), std::nullopt,
                          rendering.softClipMaxDb, std::move(rendered)};
            } else {
                rendered.discard();
                result.passes = pass;
            }

            result.gainLimitDb = boundHeld;
            if (std::fabs(result.stats.lufs - aim_) <= tolerance_) {
                if (narrate) tellStats(MasteringEventKind::targetReached, result.stats);
                return withPasses(std::move(result));
            }
            if (pass == passLimit) {
                if (narrate) tellStats(MasteringEventKind::lastPassAccepted, result.stats);
                return withPasses(std::move(result));
            }
            gain = modelledGain(sourceStats.lufs, onsetGainDb, measured, aim_);
            if (!(20.0f * std::log10(gain) <= gainBoundDb)) {
                if (boundHeld) {
                    // The pass at the bound is made: another would render the same samples.
                    result.gainLimitDb = boundHeld;
                    if (narrate) tellStats(MasteringEventKind::lastPassAccepted, result.stats);
                    return withPasses(std::move(result));
                }
                gain = std::pow(10.0f, gainBoundDb / 20.0f);
                boundHeld = gainBoundDb;
            }
            if (narrate) announcePass(pass + 1, gain, false);
        }
    }

    const fs::path input_;
    const ProgressCallback& progress_;
    const CancellationQuery& isCancelled_;
    const float target_;
    const float threshold_;
    const MasteringEventSink& events_;
    const WorkThreads threads_;
    const std::optional<float> fixedGainDb_;
    const std::optional<EarlierMaster> earlier_;
    float softClipDepthDb_; // dB the soft clipper may take from a peak; 0 leaves it out
    const float aim_;       // the loudness the passes aim at: the target, or the earlier master's
    const float tolerance_; // LU around aim_ that ends the passes
    int bpm_ = 0;
    AudioStats inStats_; // the passes' source, measured
};


} // namespace

std::string AudioProcessor::baseName(const fs::path& input) {
    std::string base = baseNameWithoutExtension(input);
    if (const auto cut = base.find("_master"); cut != std::string::npos) {
        base.erase(cut);
    }
    if (const auto cut = base.find("_final"); cut != std::string::npos) {
        base.erase(cut);
    }
    return base;
}

DJMasteringResult AudioProcessor::processAudio(const fs::path& input, const ProgressCallback& progress,
                                               const CancellationQuery& isCancelled, bool applyEQ,
                                               const std::optional<EQSettings>& eqSettings, bool resetChecklist,
                                               float targetLUFS, float limitThreshold,
                                               const MasteringEventSink& events, WorkThreads threads,
                                               std::optional<float> fixedGainDb,
                                               const std::optional<EarlierMaster>& earlier) {
    Run run(input, progress, isCancelled, targetLUFS, limitThreshold, events, threads, fixedGainDb, earlier);
    run.checkCancelled();
    run.report(0.0);
    if (applyEQ && eqSettings && eqSettings->isEnabled) {
        return run.eqMode(*eqSettings);
    }
    return run.masterMode(resetChecklist);
}

} // namespace orvanta
