#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta::cli {

// A folder of its own inside the private temporary directory for one command-line run: every pass
// file, master and conversion of the run goes there (the process's temporary directory points at
// it), and all of it is removed when the run ends, whether it succeeded, failed or was cancelled.
// Create it on the main thread before any engine work starts.
class RunTemporaryDirectory {
public:
    RunTemporaryDirectory();
    ~RunTemporaryDirectory();
    RunTemporaryDirectory(const RunTemporaryDirectory&) = delete;
    RunTemporaryDirectory& operator=(const RunTemporaryDirectory&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::optional<std::string> previousSetting_;
    std::filesystem::path path_;
};

} // namespace orvanta::cli
