#include "engine/AudioProcessor.h"

#include "engine/GainStaging.h"
#include "engine/LimiterPass.h"
#include "engine/LoudnessMeter.h"
#include "engine/MasteringChain.h"
#include "engine/ProcessingErrors.h"
#include "engine/StatusText.h"
#include "engine/TempoDetector.h"
#include "eq/AudioEngine.h"
#include "platform/FileOperations.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <cmath>
#include <vector>

namespace orvanta {

namespace fs = std::filesystem;

namespace {

constexpr float convergenceLU = 0.3f;
constexpr int maximumPasses = 3;

std::string lufsText(float value) { return formatOneDecimal(value) + " LUFS"; }
std::string dbfsText(float value) { return formatOneDecimal(value) + " dBFS"; }
std::string dbtpText(float value) { return formatOneDecimal(value) + " dBTP"; }

bool withinTarget(float lufs, float targetLUFS) { return std::fabs(lufs - targetLUFS) <= convergenceLU; }

// Every render goes to its own file in the temporary directory first; a result name (_master,
// _final) only ever holds a complete file, so a failed or cancelled run never leaves a partial
// file where a caller would take it for a result.
fs::path passFile(int pass) {
    return privateTemporaryDirectory() / ("temp_iteration_" + std::to_string(pass) + "_" + newUuidString() + ".wav");
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

void placeResult(const fs::path& rendered, const fs::path& result) {
    if (fileExists(result)) {
        removeFile(result);
    }
    moveFile(rendered, result);
}

class Run {
public:
    Run(const fs::path& input, const ProgressCallback& progress, const CancellationQuery& isCancelled,
        float targetLUFS, float limitThreshold, StatusReporter& status)
        : input_(input), progress_(progress), isCancelled_(isCancelled), target_(targetLUFS),
          threshold_(limitThreshold), status_(status) {}

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

    void item(const std::string& title, const std::string& value, const std::string& icon, bool highlighted = false) {
        status_.completeChecklistItem(title, value, icon, highlighted);
    }

    DJMasteringResult eqMode(const EQSettings& settings) {
        status_.updateStage(ProcessingStage::applyingDynamics, "Applying EQ adjustments...", "12-band parametric EQ");
        item("EQ Applied", "Yes", "slider.horizontal.3");
        const fs::path finalURL = privateTemporaryDirectory() / (AudioProcessor::baseName(input_) + "_final.wav");
        prepareResultPath(input_, finalURL);

        // The equalised master goes through the chain again: the EQ moves its loudness and may lift
        // its peaks, and the final must keep the run's target and ceiling like the master.
        const fs::path equalised = finalRenderFile();
        const ProgressCallback renderProgress = [this](double f) { report(0.5 * f); };
        AudioEngine::shared().remasterWithEQ(input_, equalised, settings, renderProgress, status_);
        AudioStats stats;
        try {
            checkCancelled();
            const AudioStats equalisedStats = analyzeAudioFile(equalised);
            requireMeasurable(equalisedStats);
            bpm_ = detectTempo(equalised);
            const float firstGain = withinTarget(equalisedStats.lufs, target_)
                                        ? 1.0f
                                        : initialGain(equalisedStats.lufs, equalisedStats.peak, target_);
            stats = converge(equalised, equalisedStats, firstGain, finalURL, 0.5, 0.45, false).stats;
        } catch (...) {
            removeFileQuietly(equalised);
            throw;
        }
        removeFileQuietly(equalised);
        report(0.95);

        status_.unhighlightChecklistItem("Output LUFS");
        item("Final LUFS", lufsText(stats.lufs), "speaker.wave.3.fill", true);
        status_.updateStage(ProcessingStage::complete, "EQ remaster complete!", "");
        report(1.0);
        return {finalURL, stats};
    }

    DJMasteringResult masterMode(bool resetChecklist) {
        if (resetChecklist) {
            status_.resetChecklist();
        }
        status_.updateStage(ProcessingStage::analyzing, "Reading audio spectrum...", "K-weighted LUFS metering");
        status_.addChecklistItem("Input LUFS", "circle.dotted");
        const fs::path masterURL = privateTemporaryDirectory() / (AudioProcessor::baseName(input_) + "_master.wav");
        prepareResultPath(input_, masterURL);

        const AudioStats inStats = analyzeAudioFile(input_);
        // Without a measured loudness there is no gain to choose: the floor of the meter would ask
        // for hundreds of decibels.
        requireMeasurable(inStats);
        report(0.05);
        item("Input LUFS", lufsText(inStats.lufs), "waveform.badge.magnifyingglass");
        item("Peak Level", dbfsText(inStats.peak), "arrow.up.to.line");
        item("Target", lufsText(target_), "target");
        status_.updateStage(ProcessingStage::analyzing, AudioProcessor::deltaMessage(target_ - inStats.lufs),
                            "Input: " + formatOneDecimal(inStats.lufs) + " LUFS → Target: " +
                                formatOneDecimal(target_) + " LUFS");

        checkCancelled();
        status_.updateStage(ProcessingStage::detectingBPM, "Analyzing rhythm patterns...", "Beat detection algorithm");
        status_.addChecklistItem("BPM", "circle.dotted");
        bpm_ = detectTempo(input_);
        report(0.1);
        item("BPM", std::to_string(bpm_) + " BPM", "metronome");
        status_.updateStage(ProcessingStage::detectingBPM, "Tempo detected!",
                            std::to_string(bpm_) + " BPM - Adapting dynamics");

        checkCancelled();
        status_.updateStage(ProcessingStage::calculatingGain, "Computing gain structure...", "Adaptive gain staging");
        item("Gain Adjust", formatSignedOneDecimal(target_ - inStats.lufs) + " dB", "slider.horizontal.3");

        if (withinTarget(inStats.lufs, target_)) {
            return singlePass(masterURL);
        }
        return multiPass(masterURL, inStats);
    }

private:
    // Renders one pass; every failure of a pass, its cancellation included, reaches the caller as
    // "Audio processing failed" with the cause's code and the cause attached.
    // Returns the meter's figures of the pass, measured as it was written.
    AudioStats renderPass(const fs::path& source, const fs::path& output, float gain, double progressStart,
                          double progressSpan) {
        const ProgressCallback passProgress = [this, progressStart, progressSpan](double fraction) {
            report(progressStart + fraction * progressSpan);
        };
        try {
            return renderLimiterPass(source, output, gain, bpm_, target_, threshold_, passProgress, isCancelled_).stats;
        } catch (const Error& cause) {
            // A cancelled or failed pass leaves no partial file in the temporary folder.
            removeFileQuietly(output);
            throw processingFailedError(cause);
        }
    }

    // A master's peak is shown as its true peak: that is what the ceiling holds.
    void reportOutput(const AudioStats& stats) {
        item("Output Peak", dbtpText(stats.truePeak), "arrow.up.to.line");
        item("Output LUFS", lufsText(stats.lufs), "speaker.wave.3.fill", true);
    }

    DJMasteringResult singlePass(const fs::path& masterURL) {
        status_.updateStage(ProcessingStage::optimizingLoudness, "Audio already at target level!",
                            "Minimal processing needed");
        item("Processing", "Minimal", "checkmark.circle");
        report(0.15);
        status_.updateStage(ProcessingStage::multibandLimiting, "Applying transparent limiting...",
                            "4-band look-ahead limiter");
        item("Limiter", "LR4 SO/40", "chart.bar.fill");

        const fs::path rendered = passFile(1);
        const AudioStats outStats = renderPass(input_, rendered, 1.0f, 0.15, 0.8);
        placeResult(rendered, masterURL);

        reportOutput(outStats);
        status_.updateStage(ProcessingStage::complete, "Mastering complete!", "");
        report(1.0);
        return {masterURL, outStats, 1, 1.0f};
    }

    void announceGain(float gain) {
        status_.updateStage(ProcessingStage::multibandLimiting, "4-band limiting active...",
                            "Gain: " + formatSignedOneDecimal(20.0f * std::log10(gain)) + " dB | Threshold: " +
                                formatOneDecimal(threshold_) + " dBFS");
    }

    DJMasteringResult multiPass(const fs::path& masterURL, const AudioStats& inStats) {
        item("Processing", "Multi-pass", "arrow.triangle.2.circlepath");
        status_.updateStage(ProcessingStage::calculatingGain, "Initial gain calculation...",
                            "Delta: " + formatSignedOneDecimal(target_ - inStats.lufs) + " dB");
        float gain = initialGain(inStats.lufs, inStats.peak, target_);
        announceGain(gain);
        item("Limiter", "LR4 SO/40", "chart.bar.fill");
        item("Threshold", dbfsText(threshold_), "minus.circle");

        const Convergence result = converge(input_, inStats, gain, masterURL, 0.1, 0.85, true);
        const AudioStats& outStats = result.stats;

        report(1.0);
        // Short of the target after the last pass: this is the loudest the chain gets without clipping.
        const bool reached = outStats.lufs >= target_ - convergenceLU;
        status_.updateStage(ProcessingStage::complete, "Mastering complete!",
                            "Output: " + formatOneDecimal(outStats.lufs) + " LUFS" +
                                (reached ? "" : " | Loudest clean result: the target of " + formatOneDecimal(target_) +
                                                    " LUFS would need clipping"));
        if (!fileExists(masterURL)) {
            throw outputNotCreatedError();
        }
        return {masterURL, outStats, result.passes, result.gain, reached};
    }

    struct Convergence {
        AudioStats stats;
        int passes = 0;
        float gain = 1.0f;
    };

    // Renders `source` through the chain at `firstGain`, then at gains modelled from the passes so far,
    // until the output lies within 0.3 LU of the target or three passes are made, and places the last
    // pass at `resultURL`. Every pass renders from `source`. With `narrate`, the stages and checklist
    // of a master run are reported.
    Convergence converge(const fs::path& source, const AudioStats& sourceStats, float firstGain,
                         const fs::path& resultURL, double progressStart, double progressSpan, bool narrate) {
        const double passSpan = progressSpan / maximumPasses;
        Convergence result;
        float gain = firstGain;
        std::vector<MeasuredPass> measured;
        // The gain at which the source's true peak meets the ceiling: limiting starts there.
        const float sourcePeak = std::isfinite(sourceStats.truePeak) ? sourceStats.truePeak : sourceStats.peak;
        const float onsetGainDb = threshold_ - MasteringChain::ceilingMarginDb - sourcePeak;
        // The pass closest to the target is kept until a closer one comes: where the target lies beyond
        // what the chain gives cleanly, the run ends at the loudest clean result it has made.
        fs::path best;
        try {
            for (int pass = 1;; ++pass) {
                const fs::path rendered = passFile(pass);
                const AudioStats outStats =
                    renderPass(source, rendered, gain, progressStart + (pass - 1) * passSpan, passSpan);
                if (narrate) {
                    status_.updateStage(ProcessingStage::finalPolish, "Verifying output levels...", "Re-analyzing LUFS");
                }
                measured.push_back({20.0f * std::log10(gain), outStats.lufs});
                const bool closer = best.empty() ||
                                    std::fabs(outStats.lufs - target_) < std::fabs(result.stats.lufs - target_);
                if (closer) {
                    if (!best.empty()) removeFileQuietly(best);
                    best = rendered;
                    result = {outStats, pass, gain};
                } else {
                    removeFileQuietly(rendered);
                    result.passes = pass;
                }

                if (withinTarget(result.stats.lufs, target_)) {
                    if (narrate) {
                        reportOutput(result.stats);
                        status_.updateStage(ProcessingStage::complete, "Target achieved!",
                                            "Final: " + formatOneDecimal(result.stats.lufs) + " LUFS");
                    }
                    placeResult(best, resultURL);
                    return result;
                }
                if (pass == maximumPasses) {
                    placeResult(best, resultURL);
                    if (narrate) {
                        reportOutput(result.stats);
                        status_.updateStage(ProcessingStage::complete, "Mastering complete!",
                                            "Final: " + formatOneDecimal(result.stats.lufs) + " LUFS | Peak: " +
                                                formatOneDecimal(result.stats.truePeak) + " dBTP");
                    }
                    return result;
                }
                gain = modelledGain(sourceStats.lufs, onsetGainDb, measured, target_);
                if (narrate) {
                    status_.updateStage(ProcessingStage::optimizingLoudness,
                                        "Fine-tuning pass " + std::to_string(pass + 1) + "...", "Converging to target");
                    announceGain(gain);
                }
            }
        } catch (...) {
            if (!best.empty()) removeFileQuietly(best);
            throw;
        }
    }

    const fs::path input_;
    const ProgressCallback& progress_;
    const CancellationQuery& isCancelled_;
    const float target_;
    const float threshold_;
    StatusReporter& status_;
    int bpm_ = 0;
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

std::string AudioProcessor::deltaMessage(float d) {
    if (d > 6) {
        return "Significant boost needed (+" + formatOneDecimal(d) + " dB)";
    }
    if (d > 3) {
        return "Moderate loudness increase required";
    }
    if (d > 0) {
        return "Light touch-up for optimal levels";
    }
    if (d < -3) {
        return "Reducing loudness for cleaner dynamics";
    }
    return "Fine-tuning for professional standards";
}

DJMasteringResult AudioProcessor::processAudio(const fs::path& input, const ProgressCallback& progress,
                                               const CancellationQuery& isCancelled, bool applyEQ,
                                               const std::optional<EQSettings>& eqSettings, bool resetChecklist,
                                               float targetLUFS, float limitThreshold, StatusReporter& status) {
    Run run(input, progress, isCancelled, targetLUFS, limitThreshold, status);
    run.checkCancelled();
    run.report(0.0);
    if (applyEQ && eqSettings && eqSettings->isEnabled) {
        return run.eqMode(*eqSettings);
    }
    return run.masterMode(resetChecklist);
}

} // namespace orvanta
