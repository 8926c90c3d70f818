#pragma once

// AAC encoded in pieces side by side. FFmpeg's AAC encoder runs on one thread; a long input is cut
// at frame boundaries into pieces that separate encoders take at once, and their packets are joined
// into one stream that decodes as the serial one does.

#include "platform/LossyEncoderParts.h"

#include <cstdint>
#include <vector>

namespace orvanta::lossy {

// One piece: the packets stamped [firstOwned, endOwned) come from an encoder fed the input's frames
// [feedStart, feedEnd), which reach a few frames beyond on both sides (where there are frames), so
// that the overlap of the transform, the window choice and the psychoacoustic state at the seam are
// those of the serial encoding. Stamps count input frames from the encoding's start.
struct AacPiece {
    int64_t feedStart = 0;
    int64_t feedEnd = 0;
    int64_t firstOwned = 0; // INT64_MIN for the first piece: it owns the encoder's priming packet
    int64_t endOwned = 0;   // INT64_MAX for the last piece: it owns the tail the encoder flushes
};

// Cuts `frames` frames into at most `wanted` pieces at multiples of `frameSize`, each at least a
// few seconds long (fewer pieces where the input is short; one: no cutting).
std::vector<AacPiece> cutIntoPieces(int64_t frames, int frameSize, int wanted);

// Encodes the pieces of `input`'s frames from `firstFrame` on (to its end when `wholeFile`), at the input's rate (no resampling),
// on threads of their own (the first on this one), and writes their packets in order into the
// container at `partial`. The first error of any piece stops the others and is rethrown here;
// `checkpoint` runs on every piece's thread and may throw.
void encodeAacPieces(const Failure& failure, const std::filesystem::path& input, int64_t firstFrame,
                     const std::vector<AacPiece>& pieces, bool wholeFile, float gain,
                     const std::filesystem::path& partial, const std::function<void()>& checkpoint);

} // namespace orvanta::lossy
