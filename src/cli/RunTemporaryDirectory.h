#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta::cli {

// A folder of its own inside the private temporary directory for one command-line run: every pass
// file, master and conversion of the run goes there (the process's temporary directory points at
// it), and all of it is removed when the run ends, whether it succeeded, failed or was cancelled.
// Create it on the main thread before any engine work starts.
//
// A run holds a lock on a file in its folder for as long as the process lives. A run killed
// outright (SIGKILL, a crash, a power cut) cannot remove its folder, so every new run first removes
// the run folders whose lock nobody holds any more.
class RunTemporaryDirectory {
public:
    RunTemporaryDirectory();
    ~RunTemporaryDirectory();
    RunTemporaryDirectory(const RunTemporaryDirectory&) = delete;
    RunTemporaryDirectory& operator=(const RunTemporaryDirectory&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }

    // Waits for the background tasks the run left running, then removes the folder (the destructor
    // then has nothing left to do).
    void remove() noexcept;

private:
    std::optional<std::string> previousSetting_;
    std::filesystem::path path_;
    int lockDescriptor_ = -1;
    bool removed_ = false;
};

// Removes the run folders in `temporaryDirectory` whose process has ended. A folder without a lock
// file (an older version's, or one killed before it took its lock) is removed once it is a day old.
// Returns how many were removed. Any thread; never throws.
int removeAbandonedRunFolders(const std::filesystem::path& temporaryDirectory) noexcept;

} // namespace orvanta::cli
