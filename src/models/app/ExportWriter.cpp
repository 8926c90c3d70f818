#include "models/app/ExportWriter.h"

#include "batch/AudioConverter.h"
#include "batch/LossyCeilingEncoder.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/FileKind.h"
#include "platform/FileOperations.h"
#include "platform/OutputDestination.h"
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

void decodeToWav(const std::filesystem::path& source, const std::filesystem::path& destination) {
    const std::filesystem::path partial = siblingTemporaryPath(destination);
    try {
        AudioFileReader reader(source);
        constexpr uint32_t chunkFrames = 65536;
        AudioBuffer buffer = reader.makeBuffer(chunkFrames);
        AudioFileWriter writer(partial, reader.processingFormat(), 24, reader.lengthFrames());
        while (reader.read(buffer, chunkFrames) > 0) writer.write(buffer);
        writer.close();
        moveFile(partial, destination);
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
}

// A device or a named pipe is written into, never renamed over: the export is made in the private
// temporary directory first and then streamed there.
void writeExportThroughTemporaryFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                                     ExportFormat format, float ceilingDb) {
    const std::filesystem::path staged =
        privateTemporaryDirectory() / ("export-" + newUuidString() + "." + std::string(fileExtension(format)));
    try {
        writeExport(source, staged, format, ceilingDb);
        publishFile(staged, destination);
    } catch (...) {
        removeFileQuietly(staged);
        throw;
    }
    removeFileQuietly(staged);
}

} // namespace

void writeExport(const std::filesystem::path& source, const std::filesystem::path& requested, ExportFormat format,
                 float ceilingDb) {
    if (isSameFile(source, requested)) return;
    // A link is written through: the file it leads to is replaced, the link itself stays.
    const OutputTarget target = resolveOutputTarget(requested);
    const std::filesystem::path& destination = target.path;
    const FileKind kind = fileKindOf(destination);
    if (target.inPlace || kind == FileKind::characterDevice || kind == FileKind::namedPipe) {
        writeExportThroughTemporaryFile(source, destination, format, ceilingDb);
        return;
    }
    if (kind != FileKind::missing && kind != FileKind::regular) checkOutputDestination(destination); // says why not
    const std::string wanted(fileExtension(format));
    const std::string have = lowercaseExtension(source);
    if (have == wanted) {
        copyFileAtomically(source, destination);
    } else if (const auto codec = lossyCodecOf(format)) {
        encodeUnderCeiling(source, destination, *codec, ceilingDb); // renames over the destination when complete
    } else {
        decodeToWav(source, destination);
    }
}

} // namespace orvanta
