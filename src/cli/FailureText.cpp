#include "cli/FailureText.h"

#include "cli/InterruptFlag.h"
#include "platform/FileKind.h"

#include <string.h>

namespace orvanta::cli {

std::optional<std::string> inputProblem(const std::filesystem::path& file) {
    const FileKind kind = fileKindOf(file);
    if (kind == FileKind::regular) return std::nullopt;
    if (kind == FileKind::missing) return "no such file";
    if (kind == FileKind::folder) return "is a folder, not an audio file";
    return "is " + std::string(describeFileKind(kind)) + ", not an audio file";
}

std::string cancelledText() {
    const char* name = ::sigabbrev_np(interruptingSignal());
    return name != nullptr ? "cancelled by SIG" + std::string(name) : std::string("cancelled");
}

} // namespace orvanta::cli
