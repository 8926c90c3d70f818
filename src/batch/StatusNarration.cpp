#include "batch/StatusNarration.h"

#include "batch/StatusText.h"

#include <cstdio>

namespace orvanta {

namespace {

std::string lufsText(float value) { return formatOneDecimal(value) + " LUFS"; }
std::string dbfsText(float value) { return formatOneDecimal(value) + " dBFS"; }
std::string dbtpText(float value) { return formatOneDecimal(value) + " dBTP"; }

void item(StatusReporter& status, const std::string& title, const std::string& value, const std::string& icon,
          bool highlighted = false) {
    status.completeChecklistItem(title, value, icon, highlighted);
}

// A master's peak is shown as its true peak: that is what the ceiling holds.
void outputItems(StatusReporter& status, const AudioStats& stats) {
    item(status, "Output Peak", dbtpText(stats.truePeak), "arrow.up.to.line");
    item(status, "Output LUFS", lufsText(stats.lufs), "speaker.wave.3.fill", true);
}

void gainLine(StatusReporter& status, const MasteringEvent& event) {
    status.updateStage(ProcessingStage::multibandLimiting, "4-band limiting active...",
                       "Gain: " + formatSignedOneDecimal(event.gainDb) + " dB | Threshold: " +
                           formatOneDecimal(event.limitThreshold) + " dBFS");
}

} // namespace

std::string gainLimitText(float targetLUFS, float gainLimitDb) {
    char gain[32];
    std::snprintf(gain, sizeof gain, "%+.1f dB", double(gainLimitDb));
    return "the target of " + lufsText(targetLUFS) + " would need more than " + gain +
           " of gain; no song needs that much: the input is mostly silence or isolated peaks";
}

std::string deltaMessage(float d) {
    if (d > 6) return "Significant boost needed (+" + formatOneDecimal(d) + " dB)";
    if (d > 3) return "Moderate loudness increase required";
    if (d > 0) return "Light touch-up for optimal levels";
    if (d < -3) return "Reducing loudness for cleaner dynamics";
    return "Fine-tuning for professional standards";
}

void narrate(const MasteringEvent& event, StatusReporter& status) {
    const AudioStats& stats = event.stats;
    switch (event.kind) {
    case MasteringEventKind::measuringInput:
        if (event.freshChecklist) status.resetChecklist();
        status.updateStage(ProcessingStage::analyzing, "Reading audio spectrum...", "K-weighted LUFS metering");
        status.addChecklistItem("Input LUFS", "circle.dotted");
        return;
    case MasteringEventKind::inputMeasured:
        item(status, "Input LUFS", lufsText(stats.lufs), "waveform.badge.magnifyingglass");
        item(status, "Peak Level", dbfsText(stats.peak), "arrow.up.to.line");
        item(status, "Target", lufsText(event.targetLUFS), "target");
        status.updateStage(ProcessingStage::analyzing, deltaMessage(event.targetLUFS - stats.lufs),
                           "Input: " + formatOneDecimal(stats.lufs) + " LUFS → Target: " +
                               formatOneDecimal(event.targetLUFS) + " LUFS");
        return;
    case MasteringEventKind::detectingTempo:
        status.updateStage(ProcessingStage::detectingBPM, "Analyzing rhythm patterns...", "Beat detection algorithm");
        status.addChecklistItem("BPM", "circle.dotted");
        return;
    case MasteringEventKind::tempoDetected:
        item(status, "BPM", std::to_string(event.bpm) + " BPM", "metronome");
        status.updateStage(ProcessingStage::detectingBPM, "Tempo detected!",
                           std::to_string(event.bpm) + " BPM - Adapting dynamics");
        return;
    case MasteringEventKind::gainComputed:
        status.updateStage(ProcessingStage::calculatingGain, "Computing gain structure...", "Adaptive gain staging");
        item(status, "Gain Adjust", formatSignedOneDecimal(event.gainDb) + " dB", "slider.horizontal.3");
        return;
    case MasteringEventKind::alreadyAtTarget:
        status.updateStage(ProcessingStage::optimizingLoudness, "Audio already at target level!",
                           "Minimal processing needed");
        item(status, "Processing", "Minimal", "checkmark.circle");
        return;
    case MasteringEventKind::multiPassPlanned:
        item(status, "Processing", "Multi-pass", "arrow.triangle.2.circlepath");
        status.updateStage(ProcessingStage::calculatingGain, "Initial gain calculation...",
                           "Delta: " + formatSignedOneDecimal(event.gainDb) + " dB");
        return;
    case MasteringEventKind::passStarted:
        if (event.singlePass) {
            status.updateStage(ProcessingStage::multibandLimiting, "Applying transparent limiting...",
                               "4-band look-ahead limiter");
            item(status, "Limiter", "LR4 SO/40", "chart.bar.fill");
        } else if (event.pass <= 1) {
            gainLine(status, event);
            item(status, "Limiter", "LR4 SO/40", "chart.bar.fill");
            item(status, "Threshold", dbfsText(event.limitThreshold), "minus.circle");
        } else {
            status.updateStage(ProcessingStage::optimizingLoudness,
                               "Fine-tuning pass " + std::to_string(event.pass) + "...", "Converging to target");
            gainLine(status, event);
        }
        return;
    case MasteringEventKind::passVerifying:
        status.updateStage(ProcessingStage::finalPolish, "Verifying output levels...", "Re-analyzing LUFS");
        return;
    case MasteringEventKind::targetReached:
        outputItems(status, stats);
        status.updateStage(ProcessingStage::complete, "Target achieved!", "Final: " + lufsText(stats.lufs));
        return;
    case MasteringEventKind::lastPassAccepted:
        outputItems(status, stats);
        status.updateStage(ProcessingStage::complete, "Mastering complete!",
                           "Final: " + lufsText(stats.lufs) + " | Peak: " + dbtpText(stats.truePeak));
        return;
    case MasteringEventKind::masteringComplete:
        if (event.singlePass) {
            outputItems(status, stats);
            status.updateStage(ProcessingStage::complete, "Mastering complete!", "");
            return;
        }
        // Short of the target after the last pass: this is the loudest the chain gets without clipping,
        // unless the gain came to its bound first.
        status.updateStage(ProcessingStage::complete, "Mastering complete!",
                           "Output: " + lufsText(stats.lufs) +
                               (event.targetReached ? ""
                                : event.gainLimitDb ? " | " + gainLimitText(event.targetLUFS, *event.gainLimitDb)
                                                    : " | Loudest clean result: the target of " +
                                                          lufsText(event.targetLUFS) + " would need clipping"));
        return;
    case MasteringEventKind::equalizing:
        status.updateStage(ProcessingStage::applyingDynamics, "Applying EQ adjustments...", "12-band parametric EQ");
        item(status, "EQ Applied", "Yes", "slider.horizontal.3");
        return;
    case MasteringEventKind::equalizingFinalCurve:
        status.updateStage(ProcessingStage::finalPolish, "Applying final EQ curve...", "");
        return;
    case MasteringEventKind::equalizingComplete:
        status.unhighlightChecklistItem("Output LUFS");
        item(status, "Final LUFS", lufsText(stats.lufs), "speaker.wave.3.fill", true);
        status.updateStage(ProcessingStage::complete, "EQ remaster complete!", "");
        return;
    case MasteringEventKind::referenceMatched:
    case MasteringEventKind::finalLevelsMeasured:
        return; // figures for the spectra and the EQ panel; the screen's texts do not change
    case MasteringEventKind::referenceUnmatchable:
        status.updateStage(ProcessingStage::finalPolish, "The reference cannot be matched",
                           "No reference levels to compare: the master is the final version");
        return;
    case MasteringEventKind::correctionStarted:
        status.resetChecklist();
        status.updateStage(ProcessingStage::analyzing, "Analyzer EQ...", "12-band adaptive curve");
        status.addChecklistItem("Analyzer EQ", "slider.horizontal.3");
        return;
    case MasteringEventKind::correctionApplied:
        item(status, "Analyzer EQ", "Applied", "slider.horizontal.3", false);
        return;
    }
}

} // namespace orvanta
