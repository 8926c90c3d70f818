#include "batch/M4ACeilingEncoder.h"

#include "engine/ProcessingErrors.h"
#include "engine/TruePeakDetector.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/M4AEncoder.h"

#include <array>
#include <string>

namespace orvanta {

namespace {

// True-peak meters with different interpolation filters disagree by a few hundredths of a dB on the
// same file, so an encoding is accepted only this far under the ceiling.
constexpr double meterToleranceDb = 0.05;

// Headroom taken beyond the measured overshoot before the second and the third encoding. The codec's
// peaks do not scale with the level: its error at a peak moves by a few tenths of a dB from one
// encoding to the next, so a step of exactly the overshoot often leaves the next one still above.
constexpr std::array<float, maxEncodings - 1> marginsDb = {0.2f, 0.5f};

} // namespace

CeilingEncoding encodeM4AUnderCeiling(const std::filesystem::path& input, const std::filesystem::path& output,
                                      float ceilingDb, const CancellationQuery& isCancelled) {
    if (isSameFile(input, output)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not encode \"" + input.string() + "\" as M4A: the output is the input itself");
    }
    // Every encoding goes to a hidden name; only the accepted one becomes `output`.
    const std::filesystem::path staging = siblingTemporaryPath(output);
    CeilingEncoding result;
    try {
        while (true) {
            if (isCancelled && isCancelled()) throw cancellationError();
            const M4AEncoding encoding = encodeM4A(input, staging, result.gainDb);
            result.sourceSampleRate = encoding.sourceSampleRate;
            result.sampleRate = encoding.sampleRate;
            ++result.encodings;
            result.truePeakDb = measureTruePeakDb(staging, isCancelled);
            const double overshootDb = result.truePeakDb - (double(ceilingDb) - meterToleranceDb);
            if (!(overshootDb > 0.0) || result.encodings == maxEncodings) break;
            result.gainDb -= float(overshootDb) + marginsDb[size_t(result.encodings - 1)];
        }
        moveFile(staging, output);
    } catch (...) {
        removeFileQuietly(staging);
        throw;
    }
    return result;
}

} // namespace orvanta
