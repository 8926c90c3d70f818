#include "app/ExportWriter.h"

#include "batch/M4ACeilingEncoder.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/FileOperations.h"

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
        AudioFileWriter writer(partial, reader.processingFormat(), 24);
        while (reader.read(buffer, chunkFrames) > 0) writer.write(buffer);
        writer.close();
        moveFile(partial, destination);
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
}

} // namespace

void writeExport(const std::filesystem::path& source, const std::filesystem::path& destination, ExportFormat format,
                 float ceilingDb) {
    if (isSameFile(source, destination)) return;
    const std::string wanted(fileExtension(format));
    const std::string have = lowercaseExtension(source);
    if (have == wanted) {
        copyFileAtomically(source, destination);
    } else if (format == ExportFormat::m4a) {
        encodeM4AUnderCeiling(source, destination, ceilingDb); // renames over the destination when complete
    } else {
        decodeToWav(source, destination);
    }
}

} // namespace orvanta
