#pragma once

#include "engine/ProcessingTypes.h"

#include <filesystem>

namespace orvanta {

// What an M4A encoding under a ceiling wrote.
struct CeilingEncoding {
    double truePeakDb = 0.0; // true peak of the written file as it decodes, dBTP
    float gainDb = 0.0f;     // gain applied before the accepted encoding, dB (0 or negative)
    int encodings = 0;       // encodings made, 1 to maxEncodings
    double sourceSampleRate = 0.0; // the input's rate, Hz
    int sampleRate = 0;            // the rate encoded, Hz (48000 where AAC cannot carry the input's)
};

inline constexpr int maxEncodings = 3; // the first and at most two more

// AAC rings around transients, so a master whose true peak sits at the ceiling decodes above it.
// Encodes `input` as M4A, decodes the result and measures its 4x oversampled true peak; while that is
// above `ceilingDb` (dBTP, less a few hundredths for the spread between meters) it encodes again with
// the gain lowered by the overshoot plus a small margin, at most maxEncodings times in all. The last
// encoding stands even when still above (it is the quietest made). `output` receives the accepted
// file in one rename, so it is either untouched or the whole file; on failure nothing new is left
// beside it. Any thread. Throws the encoder's and the reader's errors (Error, domain "AudioFile"), or
// Orvanta/100 when `isCancelled` answers yes before an encoding or while one is measured.
CeilingEncoding encodeM4AUnderCeiling(const std::filesystem::path& input, const std::filesystem::path& output,
                                      float ceilingDb, const CancellationQuery& isCancelled = {});

} // namespace orvanta
