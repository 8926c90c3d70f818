#include "batch/MasterFile.h"

#include "batch/AudioConverter.h"
#include "batch/AudioProcessor.h"
#include "batch/EngineInput.h"
#include "batch/ResampledInput.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "eq/AudioEngine.h"
#include "eq/BalanceMatching.h"
#include "eq/ReferenceMatching.h"
#include "platform/AudioFileReader.h"
#include "platform/DecodedInput.h"
#include "platform/FileOperations.h"
#include "platform/TemporaryDirectory.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>

namespace orvanta {

namespace fs = std::filesystem;

Error errorFrom(const std::exception& failure) {
    if (const auto* error = dynamic_cast<const Error*>(&failure)) return *error;
    if (const auto* fileSystem = dynamic_cast<const fs::filesystem_error*>(&failure)) {
        return Error(std::string(domains::fileSystem), fileSystem->code().value(), fileSystem->what());
    }
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        return Error("System", ENOMEM, "Not enough memory");
    }
    return Error("System", 0, failure.what());
}

ReferenceMatch referenceMatchOf(const SpectralProfile& profile, float strengthPercent) {
    ReferenceMatch match;
    const std::vector<float>& levels = profile.spectrum12Band;
    std::copy_n(levels.begin(), std::min(levels.size(), match.levels.size()), match.levels.begin());
    match.balance = profile.tonalBalance;
    match.strengthPercent = strengthPercent;
    return match;
}

namespace {

// How much quieter than the first master one made again under a lowered ceiling may come out: the
// lossy file must stay within 0.3 LU of the master, and the codec takes a little itself.
constexpr float remasterLossLU = 0.15f;

// A master made again for a lossy codec passes up to this far below the codec's band edge (the
// low-pass's transition lies between).
constexpr float bandLimitBelowCodecHz = 1500.0f;

// One pass's view of its options: progress, cancellation and events that may each be empty.
class Pass {
public:
    explicit Pass(const MasteringOptions& options) : options_(options) {}

    bool cancelled() const { return options_.isCancelled && options_.isCancelled(); }
    void report(double value) const {
        if (options_.progress) options_.progress(value);
    }
    void tell(MasteringEvent event) const {
        if (!options_.events) return;
        event.targetLUFS = options_.targetLUFS;
        event.limitThreshold = options_.limitThreshold;
        options_.events(event);
    }
    void tell(MasteringEventKind kind) const { tell(MasteringEvent{kind}); }

    // The conversion tail: the result in the export format, or the WAV itself when the conversion
    // fails. An encoded result carries its own figures. `source` is removed after a successful
    // conversion only when it is no longer anyone's result (`removeSource`).
    // `remaster`, when given, makes the master again under a lowered ceiling where the codec overshoots.
    MasteredFile convert(const fs::path& source, const AudioStats& stats, float ceilingDb, bool removeSource,
                         const Remaster& remaster = {}) const {
        MasteredFile record;
        record.result = {source, stats};
        if (options_.format == ExportFormat::wav) {
            report(1.0);
            return record;
        }
        report(0.9);
        try {
            const AudioConverter::Conversion conversion =
                AudioConverter::convert(source, options_.format, ceilingDb, options_.isCancelled, remaster,
                                        remaster ? std::optional<float>(stats.lufs) : std::nullopt, options_.dither,
                                        options_.threads);
            if (const auto note = AudioConverter::noteOn(conversion)) record.notes.push_back(*note);
            const bool newFile = !isSameFile(conversion.url, source);
            if (conversion.truePeakDb) {
                try {
                    // The codec changes the level a little and the peaks more, so the file itself is
                    // measured; its true peak is the one the converter measured after encoding.
                    record.result.stats =
                        conversion.stats ? *conversion.stats : analyzeAudioFile(conversion.url, options_.threads);
                    record.result.stats.truePeak = float(*conversion.truePeakDb);
                } catch (...) {
                    if (newFile) removeFileQuietly(conversion.url); // an unmeasured export is nobody's result
                    throw;
                }
            }
            if (conversion.encodings > 0) {
                record.encoding = LossyEncodingReport{conversion.encodings, conversion.remasters,
                                                      conversion.masterCeilingDb};
            }
            if (removeSource && newFile) removeFileQuietly(source);
            record.result.outputURL = conversion.url;
        } catch (const std::exception& error) {
            record.result.stats = stats;
            record.notes.clear();
            record.encoding.reset();
            record.conversionFailed = true;
            record.conversionError = errorFrom(error);
        }
        report(1.0);
        return record;
    }

    // Makes `first` again under a lowered ceiling, as loud as it is, through the same processAudio call
    // with `eq`; `latest` is the newest master accepted. A master that comes out more than
    // remasterLossLU quieter than the first is refused: the ceiling can go no lower. Quiet: the run's
    // events and progress have been told.
    Remaster remasterOf(const fs::path& source, const std::optional<EQSettings>& eq, float targetLUFS,
                        const DJMasteringResult& first, DJMasteringResult& latest) const {
        // Every band-limited master made so far, refused ones included, is a pass of the chain the next
        // one runs; before the first, the first master's passes (without the band limit) come close.
        // A master made with the soft clipper (where a lower ceiling asked for it) leaves it in the
        // chain of the next, whose known passes are then only those with it.
        return [this, source, eq, targetLUFS, &first, &latest, made = 0, known = first.ceilingRelativePasses,
                knownDepthDb = first.softClipDepthDb,
                bandLimited = false](float ceilingDb, float encodedLufs) mutable -> std::optional<fs::path> {
            // What the codec took from a band-limited master is asked of the next one on top. (The first
            // master loses its highs in the encoder; the band-limited one itself measures without them.)
            const float codecLossLU =
                made > 0 && std::isfinite(encodedLufs) ? std::max(0.0f, latest.stats.lufs - encodedLufs) : 0.0f;
            // The new master keeps below the codec's band edge, so the encoder cuts nothing the limiter saw.
            const float bandLimitHz =
                float(codecBandEdgeHz(*lossyCodecOf(options_.format))) - bandLimitBelowCodecHz;
            const EarlierMaster earlier{latest.totalGain, first.stats.lufs + codecLossLU, latest.softClipDepthDb,
                                        first.bpm, first.inputStats, bandLimitHz,
                                        knownDepthDb == latest.softClipDepthDb ? known : std::vector<MeasuredPass>{}};
            // The accepted master waits aside; a refused one gives its place back.
            const fs::path accepted = siblingTemporaryPath(latest.outputURL);
            moveFile(latest.outputURL, accepted);
            DJMasteringResult again;
            try {
                again = AudioProcessor::processAudio(source, nullptr, options_.isCancelled, eq.has_value(), eq, false,
                                                     targetLUFS, ceilingDb, {}, options_.threads, std::nullopt,
                                                     earlier);
            } catch (...) {
                moveFile(accepted, latest.outputURL);
                throw;
            }
            if (!bandLimited || again.softClipDepthDb != knownDepthDb) known.clear();
            bandLimited = true;
            knownDepthDb = again.softClipDepthDb;
            known.insert(known.end(), again.ceilingRelativePasses.begin(), again.ceilingRelativePasses.end());
            if (again.stats.lufs - codecLossLU < first.stats.lufs - remasterLossLU) {
                removeFile(again.outputURL);
                moveFile(accepted, latest.outputURL);
                return std::nullopt;
            }
            removeFileQuietly(accepted);
            ++made;
            again.passes += latest.passes;
            again.targetReached = first.targetReached;
            again.gainLimitDb = first.gainLimitDb;
            latest = std::move(again);
            return latest.outputURL;
        };
    }

    MasteredFile master(const fs::path& source) const {
        const DJMasteringResult result =
            AudioProcessor::processAudio(source, options_.progress, options_.isCancelled, false, std::nullopt, true,
                                         options_.targetLUFS, options_.limitThreshold, options_.events,
                                         options_.threads, options_.fixedGainDb);
        DJMasteringResult latest = result;
        MasteredFile record = convert(result.outputURL, result.stats, options_.limitThreshold, true,
                                      remasterOf(source, std::nullopt, options_.targetLUFS, result, latest));
        record.pipeline = latest;
        return record;
    }

    MasteredFile referenceFinal(const fs::path& original, const fs::path& source) const {
        const auto& reference = options_.reference;
        const bool hasBalance = reference && reference->balance && reference->balance->contentBandCount() > 0;
        const bool usable = hasBalance || (reference && std::any_of(reference->levels.begin(), reference->levels.end(),
                                                                    [](float level) { return level != 0.0f; }));
        if (!usable) {
            // The final version is the master itself, measured again. The master stays the caller's
            // result, so a conversion never removes it.
            tell(MasteringEventKind::referenceUnmatchable);
            const AudioStats stats = analyzeAudioFile(source, options_.threads);
            report(0.8);
            return convert(source, stats, options_.limitThreshold, false);
        }
        // The master's spectrum, the equaliser and the passes read the master decoded once, the
        // matching the song.
        const DecodedInput decodedMaster(source);
        const DecodedInput decodedSong(original);
        const BandLevels inputLevels = compute12BandSpectrum(source);
        report(0.2);
        // A profile stored before the balance was measured, whose file cannot be read again, keeps the
        // classic rule on its 12-band levels.
        const EQSettings matched =
            hasBalance ? balanceMatchedEQ(*reference->balance, measureTonalBalance(original, options_.isCancelled),
                                          reference->strengthPercent, AudioFileReader(original).sampleRate())
                       : matchedEQSettings(reference->levels, inputLevels, reference->strengthPercent);
        MasteringEvent matchedEvent{MasteringEventKind::referenceMatched};
        matchedEvent.bandLevels = inputLevels;
        matchedEvent.matchedEQ = matched;
        tell(matchedEvent);
        report(0.4);
        const DJMasteringResult result =
            AudioProcessor::processAudio(source, options_.progress, options_.isCancelled, true, matched, true,
                                         options_.targetLUFS, options_.limitThreshold, options_.events,
                                         options_.threads, options_.fixedGainDb);
        const BandLevels outputLevels = compute12BandSpectrum(result.outputURL);
        MasteringEvent measured{MasteringEventKind::finalLevelsMeasured};
        measured.bandLevels = outputLevels;
        measured.matchedEQ = matched;
        tell(measured);
        report(0.8);
        DJMasteringResult latest = result;
        MasteredFile record = convert(result.outputURL, result.stats, options_.limitThreshold, true,
                                      remasterOf(source, matched, options_.targetLUFS, result, latest));
        record.pipeline = latest;
        record.matchedEQ = matched;
        record.inputLevels = inputLevels;
        record.outputLevels = outputLevels;
        return record;
    }

    MasteredFile correctedMaster(const fs::path& song, const AnalyzerPlan& plan) const {
        if (cancelled()) throw cancellationError();
        tell(MasteringEventKind::correctionStarted);

        // Cut like EngineInput's link: a long legal name would overflow the names derived from it.
        const fs::path eqURL =
            privateTemporaryDirectory() / (utf8Prefix(baseNameWithoutExtension(song), 180) + "_analyzer_eq.wav");
        if (fileExists(eqURL)) removeFile(eqURL);
        if (!plan.eqSettings.isEnabled && std::fabs(plan.sideGainDB) <= 0.01f) {
            copyFile(song, eqURL);
        } else {
            AudioEngine().renderCorrection(
                song, eqURL, plan.eqSettings, [this](double f) { report(0.25 * f); }, plan.sideGainDB,
                plan.wetDryMix, plan.preGainDB);
        }
        tell(MasteringEventKind::correctionApplied);

        if (cancelled()) throw cancellationError();
        const float ceiling = plan.settings.limitThreshold;
        const DJMasteringResult result = AudioProcessor::processAudio(
            eqURL, [this](double f) { report(0.25 + 0.75 * f); }, options_.isCancelled, false, std::nullopt, false,
            plan.settings.targetLUFS, ceiling, options_.events, options_.threads);
        // When the render or the run fails, the corrected copy stays in the temporary directory.
        DJMasteringResult latest = result;
        MasteredFile record = convert(result.outputURL, result.stats, ceiling, true,
                                      remasterOf(eqURL, std::nullopt, plan.settings.targetLUFS, result, latest));
        removeFileQuietly(eqURL);
        record.pipeline = latest;
        return record;
    }

private:
    const MasteringOptions& options_;
};

Error inputNotFoundError(const fs::path& input) {
    return Error(std::string(engineDomain), engine_error::outputMissing, "Input file not found at path: " + input.string());
}

// The rate the pass masters at: the one asked for, else the song's own; for an MP3, where MP3 does
// not carry that rate, the nearest one it does, with a note saying so.
std::optional<int> passSampleRate(const MasteringOptions& options, const fs::path& song, std::vector<std::string>& notes) {
    if (options.format != ExportFormat::mp3) return options.sampleRate;
    const double wanted = options.sampleRate ? double(*options.sampleRate) : AudioFileReader(song).sampleRate();
    const int rate = mp3SampleRateFor(wanted);
    if (double(rate) == wanted) return options.sampleRate;
    char note[96];
    std::snprintf(note, sizeof note, "MP3 carries at most 48 kHz: mastered at %g kHz instead of %g kHz", rate / 1000.0,
                  wanted / 1000.0);
    notes.emplace_back(note);
    return rate;
}

} // namespace

MasteredFile masterFile(const MasteringOptions& options) {
    const Pass pass(options);
    std::vector<std::string> notes;
    if (options.pass == MasteringPass::correctedMaster) {
        if (!options.plan) throw std::invalid_argument("a corrected master needs the analyzer's plan");
        const ResampledInput song(options.input, passSampleRate(options, options.input, notes), options.isCancelled);
        MasteredFile record = pass.correctedMaster(song.path(), *options.plan);
        record.notes.insert(record.notes.begin(), notes.begin(), notes.end());
        return record;
    }
    if (!fileExists(options.input)) throw inputNotFoundError(options.input);
    const EngineInput engineInput(options.input); // a long name would overflow the names derived from it
    // A final pass starts from the master, which already has the run's rate.
    if (options.pass == MasteringPass::referenceFinal) return pass.referenceFinal(options.input, engineInput.path());
    const ResampledInput song(engineInput.path(), passSampleRate(options, engineInput.path(), notes),
                              options.isCancelled);
    MasteredFile record = pass.master(song.path());
    record.notes.insert(record.notes.begin(), notes.begin(), notes.end());
    return record;
}

} // namespace orvanta
