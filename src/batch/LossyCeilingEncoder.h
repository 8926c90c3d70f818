#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/LossyEncoder.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace orvanta {

// What a lossy encoding under a ceiling wrote.
struct CeilingEncoding {
    double truePeakDb = 0.0;       // true peak of the written file as it decodes, dBTP
    float masterCeilingDb = 0.0f;  // the ceiling of the master that was encoded, dBTP (lowered where the codec overshot)
    float gainDb = 0.0f;           // gain applied before the accepted encoding, dB (0 unless no remaster was possible)
    int encodings = 0;             // whole-file encodings made, 1 to maxEncodings
    int remasters = 0;             // masters made again at a lowered ceiling
    double probedTruePeakDb = 0.0; // the loudest passages' decoded true peak, encoded on their own first, dBTP
    float lufs = 0.0f;             // loudness of the written file, LUFS (the engine's meter)
    AudioStats stats;              // the meter's figures of the written file as it decodes
    double sourceSampleRate = 0.0; // the input's rate, Hz
    int sampleRate = 0;            // the rate encoded, Hz (48000 where the codec cannot carry the input's)
};

inline constexpr int maxEncodings = 3; // the first and at most two more

// Renders the master again, to the same target, under the lowered ceiling `ceilingDb` (dBTP), and
// returns the new master's file; none when that master would no longer be as loud as the first (on
// dense material the loudness follows the ceiling down), so the ceiling can go no lower.
// `encodedLufs` is the loudness of the last encoding of the current master (NaN before the first):
// the codec's band limit takes a little loudness, which the new master may make up. May throw;
// cancellation included.
using Remaster = std::function<std::optional<std::filesystem::path>(float ceilingDb, float encodedLufs)>;

// A lossy codec rings around transients, so a master whose true peak sits at the ceiling decodes
// above it. First the master's loudest passages are encoded on their own (a few seconds in all) and
// decoded; where they overshoot `ceilingDb` (dBTP, less a few hundredths for the spread between
// meters), `remaster` makes the master again with the ceiling lowered by the overshoot and a small
// margin, and they are encoded again (twice at most). Then the whole master is encoded, decoded and measured; while it is still above the
// ceiling it is mastered again, lower by the new overshoot, and encoded again, at most maxEncodings
// times in all, or until `remaster` can go no lower; the encoding that misses least stands. The
// loudness stays the master's (`masterLufs`, when given, LUFS): only the limiter's ceiling moves, and
// an encoding more than 0.2 LU quieter than the master asks for the master again, louder by what the
// codec took. Without `remaster` (a file that is no run's master) the gain before the encoder is
// lowered instead. `output` receives the accepted file in one rename, so it is either untouched or
// the whole file; on failure nothing new is left beside it. Any thread. Throws the encoder's, the
// reader's and `remaster`'s errors, or Orvanta/100 when `isCancelled` answers yes between steps or
// during an encoding. With WorkThreads::oneThread an encoding starts no thread; otherwise a long AAC
// encoding runs in pieces side by side.
CeilingEncoding encodeUnderCeiling(const std::filesystem::path& master, const std::filesystem::path& output,
                                   LossyCodec codec, float ceilingDb, const Remaster& remaster = {},
                                   const CancellationQuery& isCancelled = {},
                                   std::optional<float> masterLufs = std::nullopt,
                                   WorkThreads threads = WorkThreads::pipelined);

// encodeUnderCeiling as AAC in M4A, without a remaster.
inline CeilingEncoding encodeM4AUnderCeiling(const std::filesystem::path& input, const std::filesystem::path& output,
                                             float ceilingDb, const CancellationQuery& isCancelled = {}) {
    return encodeUnderCeiling(input, output, LossyCodec::aac, ceilingDb, {}, isCancelled);
}

} // namespace orvanta
