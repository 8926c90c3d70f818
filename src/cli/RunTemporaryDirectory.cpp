#include "cli/RunTemporaryDirectory.h"

#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <cstdlib>

namespace orvanta::cli {

namespace {
constexpr const char* temporaryDirectoryVariable = "ORVANTA_TEMP_DIR";
}

RunTemporaryDirectory::RunTemporaryDirectory() {
    if (const char* current = std::getenv(temporaryDirectoryVariable)) previousSetting_ = current;
    path_ = privateTemporaryDirectory() / ("cli-run-" + newUuidString());
    ::setenv(temporaryDirectoryVariable, path_.c_str(), 1);
    privateTemporaryDirectory(); // created now, with the private directory's checks
}

RunTemporaryDirectory::~RunTemporaryDirectory() {
    if (previousSetting_) ::setenv(temporaryDirectoryVariable, previousSetting_->c_str(), 1);
    else ::unsetenv(temporaryDirectoryVariable);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace orvanta::cli
