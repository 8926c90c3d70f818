#include "models/app/ExportWriter.h"

#include "batch/AudioConverter.h"
#include "batch/LossyCeilingEncoder.h"
#include "batch/ResampledInput.h"
#include "platform/AudioFileFacts.h"
#include "platform/AudioFileReader.h"
#include "platform/FileKind.h"
#include "platform/FileOperations.h"
#include "platform/LosslessTranscode.h"
#include "platform/OutputDestination.h"
#include "platform/SampleRateConversion.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace orvanta {
namespace {

std::string lowercaseExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// True when `source` already is a file of `format`: the same container, and for a lossless one the
// same stored word length.
bool alreadyIn(const std::filesystem::path& source, ExportFormat format) {
    if (lowercaseExtension(source) != fileExtension(format)) return false;
    const std::optional<int> wanted = bitDepthOf(format);
    if (!wanted) return true;
    const AudioFileFacts facts = readAudioFileFacts(source);
    if (*wanted == floatBitDepth) return facts.floatingPoint && facts.bitDepth == 32;
    return !facts.floatingPoint && facts.bitDepth == *wanted;
}

// Encodes under the ceiling. MP3 carries at most 48 kHz: a master at a higher rate is resampled (in
// the private temporary directory) to the nearest rate it carries first; resampling keeps the
// band-limited waveform, so its true peak stays where the master's was.
void encodeLossyExport(const std::filesystem::path& source, const std::filesystem::path& destination,
                       LossyCodec codec, float ceilingDb) {
    const double rate = codec == LossyCodec::mp3 ? AudioFileReader(source).sampleRate() : 0.0;
    if (codec != LossyCodec::mp3 || mp3CarriesSampleRate(rate)) {
        encodeUnderCeiling(source, destination, codec, ceilingDb);
        return;
    }
    const std::filesystem::path resampled = privateTemporaryDirectory() / ("export-" + newUuidString() + ".wav");
    try {
        convertSampleRate(source, resampled, mp3SampleRateFor(rate));
        encodeUnderCeiling(resampled, destination, codec, ceilingDb);
    } catch (...) {
        removeFileQuietly(resampled);
        throw;
    }
    removeFileQuietly(resampled);
}

// A device or a named pipe is written into, never renamed over: the export is made in the private
// temporary directory first and then streamed there.
void writeExportThroughTemporaryFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                                     ExportFormat format, float ceilingDb, DitherShape dither) {
    const std::filesystem::path staged =
        privateTemporaryDirectory() / ("export-" + newUuidString() + "." + std::string(fileExtension(format)));
    try {
        writeExport(source, staged, format, ceilingDb, dither);
        publishFile(staged, destination);
    } catch (...) {
        removeFileQuietly(staged);
        throw;
    }
    removeFileQuietly(staged);
}

} // namespace

void writeExport(const std::filesystem::path& source, const std::filesystem::path& requested, ExportFormat format,
                 float ceilingDb, DitherShape dither) {
    if (isSameFile(source, requested)) return;
    // A link is written through: the file it leads to is replaced, the link itself stays.
    const OutputTarget target = resolveOutputTarget(requested);
    const std::filesystem::path& destination = target.path;
    const FileKind kind = fileKindOf(destination);
    if (target.inPlace || kind == FileKind::characterDevice || kind == FileKind::namedPipe) {
        writeExportThroughTemporaryFile(source, destination, format, ceilingDb, dither);
        return;
    }
    if (kind != FileKind::missing && kind != FileKind::regular) checkOutputDestination(destination); // says why not
    // Every writer below renames over the destination only when complete.
    if (alreadyIn(source, format)) {
        copyFileAtomically(source, destination);
    } else if (const auto codec = lossyCodecOf(format)) {
        encodeLossyExport(source, destination, *codec, ceilingDb); // renames over the destination when complete
    } else {
        transcodeLossless(source, destination, losslessTargetOf(format, dither));
    }
}

} // namespace orvanta
