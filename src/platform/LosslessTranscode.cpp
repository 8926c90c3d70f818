#include "platform/LosslessTranscode.h"

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"

namespace orvanta {

void transcodeLossless(const std::filesystem::path& input, const std::filesystem::path& output,
                       const LosslessTarget& target, const std::function<bool()>& isCancelled,
                       const std::function<void()>& onCancel) {
    AudioFileReader reader(input);
    if (isSameFile(input, output)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Cannot write \"" + output.string() + "\": the output is the input itself");
    }
    writeBesideThenRename(output, [&](const std::filesystem::path& partial) {
        constexpr uint32_t chunkFrames = 65536;
        AudioBuffer buffer = reader.makeBuffer(chunkFrames);
        AudioFileWriter writer(partial, reader.processingFormat(), target.bitDepth, reader.lengthFrames(),
                               target.container, target.dither);
        while (reader.read(buffer, chunkFrames) > 0) {
            if (isCancelled && isCancelled()) {
                if (onCancel) onCancel();
                throw audioFileError(AudioFileErrorCode::writeFailed, "Writing \"" + output.string() + "\" was cancelled");
            }
            writer.write(buffer);
        }
        writer.close();
    });
}

} // namespace orvanta
