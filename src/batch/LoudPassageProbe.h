#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/LossyEncoder.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvanta {

// A stretch of a file, in frames.
struct Passage {
    int64_t firstFrame = 0;
    int64_t frameCount = 0;
};

// The passages of `master` where a codec is likeliest to overshoot: among the quarter seconds whose
// peak comes within 1 dB of the file's, the densest (highest RMS) and the brightest (highest RMS of
// the sample-to-sample difference, where transients and cymbals live), a few of each, every one
// widened by context on both sides and apart from the others. Sorted by position; together at most a
// few percent of a long file, the whole file when it is short. Any thread. Throws the reader's
// errors, Orvanta/100 when `isCancelled` answers yes between chunks.
std::vector<Passage> loudestPassages(const std::filesystem::path& master, const CancellationQuery& isCancelled = {});

// Encodes each of the loudest passages of `master` on its own with `codec`, decodes it and returns
// the largest true peak found inside them (dBTP; the edges, where a lone encoding starts and stops,
// are left out). Cheap next to encoding the whole file, and close to its overshoot where the file's
// loudest moments are alike. Temporary files go to the private temporary directory and are removed.
// Any thread. Throws the encoder's and the reader's errors, Orvanta/100 when cancelled.
double probeDecodedTruePeakDb(const std::filesystem::path& master, LossyCodec codec,
                              const CancellationQuery& isCancelled = {});

} // namespace orvanta
