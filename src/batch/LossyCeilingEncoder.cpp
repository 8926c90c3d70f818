#include "batch/LossyCeilingEncoder.h"

#include "batch/LoudPassageProbe.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace orvanta {

namespace {

// True-peak meters with different interpolation filters disagree by a few hundredths of a dB on the
// same file, so an encoding is accepted only this far under the ceiling.
constexpr double meterToleranceDb = 0.05;

// Headroom taken beyond the measured overshoot before the next master or encoding. The codec's peaks
// do not scale with the limiter's ceiling: its error at a peak moves by a few hundredths of a dB
// from one master to the next, so a step of exactly the overshoot often leaves the next still above.
constexpr double marginDb = 0.1;

// The part of the first overshoot that the first master made again under a lower ceiling takes away;
// its band limit takes the rest (measured on dense masters at every preset: 0.4 to 0.6 of it).
constexpr double firstRemasterShare = 0.4;

// Rounds of encoding the loudest passages and making the master again before the whole file is encoded.
constexpr int probeRounds = 2;

// An encoding this much quieter than the master asks for the master again, a little louder: the file
// must stay within 0.3 LU of it.
constexpr float quieterLU = 0.2f;

} // namespace

CeilingEncoding encodeUnderCeiling(const std::filesystem::path& master, const std::filesystem::path& output,
                                   LossyCodec codec, float ceilingDb, const Remaster& remaster,
                                   const CancellationQuery& isCancelled, std::optional<float> masterLufs,
                                   WorkThreads threads) {
    if (isSameFile(master, output)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate, "Could not encode \"" + master.string() + "\" as " +
                                                                   std::string(codecName(codec)) +
                                                                   ": the output is the input itself");
    }
    const auto checkCancelled = [&] {
        if (isCancelled && isCancelled()) throw cancellationError();
    };
    const double acceptedDb = double(ceilingDb) - meterToleranceDb;
    CeilingEncoding current;
    current.masterCeilingDb = ceilingDb;
    std::filesystem::path source = master;
    float encodedLufs = std::nanf("");
    // The highest ceiling a master was refused under. Under a lower one it would come out quieter still
    // and be asked to be at least as loud, so it is refused without being made: on dense songs each
    // refusal costs a whole master of several passes.
    std::optional<float> refusedCeilingDb;
    const auto remasterUnder = [&](float ceiling) -> std::optional<std::filesystem::path> {
        if (refusedCeilingDb && ceiling <= *refusedCeilingDb) return std::nullopt;
        std::optional<std::filesystem::path> made = remaster(ceiling, encodedLufs);
        if (!made) refusedCeilingDb = std::max(ceiling, refusedCeilingDb.value_or(ceiling));
        return made;
    };
    // Lowers the ceiling of the next master (or, without a remaster, the gain before the encoder) by
    // the overshoot and the margin, or only makes it again to make up the codec's loudness loss;
    // false when the master can go no lower.
    const auto lowerBy = [&](double overshootDb) {
        if (!remaster) {
            const float step = overshootDb > 0.0 ? float(overshootDb + marginDb) : 0.0f;
            current.gainDb -= step;
            return step > 0.0f;
        }
        // The first master made again is also band-limited for the codec, which takes away about half
        // of a dense master's overshoot by itself; later ones step by all of what is left.
        const double share = current.remasters == 0 ? firstRemasterShare : 1.0;
        const float step = overshootDb > 0.0 ? float(share * overshootDb + marginDb) : 0.0f;
        float ceiling = current.masterCeilingDb - step;
        std::optional<std::filesystem::path> lowered = remasterUnder(ceiling);
        if (!lowered && current.remasters == 0 && step > 0.0f) {
            // Too quiet under the lower ceiling: band-limited under the same one still takes away the
            // part of the overshoot that the codec's cut-off makes.
            ceiling = current.masterCeilingDb;
            lowered = remasterUnder(ceiling);
        }
        if (!lowered) return false;
        current.masterCeilingDb = ceiling;
        source = *lowered;
        ++current.remasters;
        return true;
    };
    // How far an encoding misses: dB over the ceiling plus LU under the master's loudness.
    const auto miss = [&](const CeilingEncoding& encoding) {
        const double over = std::max(0.0, encoding.truePeakDb - acceptedDb);
        const double quieter = masterLufs ? std::max(0.0, double(*masterLufs - quieterLU) - encoding.lufs) : 0.0;
        return over + quieter;
    };

    // The loudest passages on their own first: a whole encoding costs many times a master's pass, so
    // the overshoot they show is taken away before the whole file is encoded.
    // The master is made again from what they show, and they are encoded again, until they keep the
    // ceiling: only then is the whole file encoded.
    // (The passages are encoded as they are: a gain before the encoder is taken once.)
    for (int round = 0; round < (remaster ? probeRounds : 1); ++round) {
        checkCancelled();
        current.probedTruePeakDb = probeDecodedTruePeakDb(source, codec, isCancelled);
        if (!(current.probedTruePeakDb > acceptedDb) || !lowerBy(current.probedTruePeakDb - acceptedDb)) break;
    }

    // Every encoding goes to a hidden name; the one that misses least so far is kept under another,
    // and only that one becomes `output`.
    const std::filesystem::path staging = siblingTemporaryPath(output);
    const std::filesystem::path kept = siblingTemporaryPath(output);
    CeilingEncoding best;
    try {
        while (true) {
            checkCancelled();
            LossyEncodingOptions options;
            options.gainDb = current.gainDb;
            options.threads = threads == WorkThreads::oneThread ? 1 : 0;
            options.checkpoint = checkCancelled;
            const LossyEncoding encoding = encodeLossy(source, staging, codec, options);
            current.sourceSampleRate = encoding.sourceSampleRate;
            current.sampleRate = encoding.sampleRate;
            ++current.encodings;
            if (isCancelled && isCancelled()) throw cancellationError();
            current.stats = analyzeAudioFile(staging, threads);
            current.truePeakDb = current.stats.truePeak;
            current.lufs = current.stats.lufs;
            encodedLufs = current.lufs;
            if (best.encodings == 0 || miss(current) < miss(best)) {
                moveFile(staging, kept);
                best = current;
            }
            best.encodings = current.encodings;
            best.remasters = current.remasters;
            if (!(miss(current) > 0.0) || current.encodings == maxEncodings) break;
            checkCancelled();
            if (!lowerBy(current.truePeakDb - acceptedDb)) break;
        }
        removeFileQuietly(staging);
        moveFile(kept, output);
    } catch (...) {
        removeFileQuietly(staging);
        removeFileQuietly(kept);
        throw;
    }
    return best;
}

} // namespace orvanta
