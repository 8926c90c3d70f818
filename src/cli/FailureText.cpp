#include "cli/FailureText.h"

#include "cli/InterruptFlag.h"
#include "platform/FileKind.h"
#include "platform/FileOperations.h"

#include <string.h>

namespace orvanta::cli {

std::optional<std::string> inputProblem(const std::filesystem::path& file) {
    const FileKind kind = fileKindOf(file);
    if (kind == FileKind::regular) return std::nullopt;
    if (kind == FileKind::missing) return "no such file";
    if (kind == FileKind::folder) return "is a folder, not an audio file";
    return "is " + std::string(describeFileKind(kind)) + ", not an audio file";
}

std::optional<std::string> outputReplacesInput(const std::filesystem::path& output, const std::filesystem::path& input,
                                               const std::optional<std::filesystem::path>& reference) {
    if (isSameFile(input, output)) return "the output would replace the input; choose another name with -o";
    if (reference && isSameFile(*reference, output)) {
        return "the output would replace the reference \"" + reference->string() + "\"; choose another name with -o";
    }
    return std::nullopt;
}

std::string cancelledText() {
    const char* name = ::sigabbrev_np(interruptingSignal());
    return name != nullptr ? "cancelled by SIG" + std::string(name) : std::string("cancelled");
}

} // namespace orvanta::cli
