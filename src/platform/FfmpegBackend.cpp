#include "platform/AudioReaderBackend.h"

namespace orvanta {

std::unique_ptr<AudioReaderBackend> openFfmpegBackend(const std::filesystem::path&, std::string& reason) {
    reason = "not a supported audio format";
    return nullptr;
}

} // namespace orvanta
