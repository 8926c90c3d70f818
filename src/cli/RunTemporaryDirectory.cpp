#include "cli/RunTemporaryDirectory.h"

#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>


#include <chrono>
#include <cstdlib>

namespace orvanta::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* temporaryDirectoryVariable = "ORVANTA_TEMP_DIR";
constexpr std::string_view runFolderPrefix = "cli-run-";
constexpr const char* lockFileName = ".run.lock";
// A folder without a lock file is a run's for the instant before it takes its lock, or an older
// version's, whose process cannot be told apart from a dead one: such a folder is left for a day.
constexpr auto unlockedFolderLifetime = std::chrono::hours(24);

bool isAbandoned(const fs::path& folder) noexcept {
    const int descriptor = ::open((folder / lockFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) {
        std::error_code ec;
        const auto modified = fs::last_write_time(folder, ec);
        return !ec && fs::file_time_type::clock::now() - modified > unlockedFolderLifetime;
    }
    // A lock that can be taken has no holder: its process has ended (the kernel drops a process's
    // locks when it dies, however it dies).
    const bool abandoned = ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    ::close(descriptor);
    return abandoned;
}

} // namespace

int removeAbandonedRunFolders(const fs::path& temporaryDirectory) noexcept {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(temporaryDirectory, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path folder = it->path();
        std::error_code kindError;
        if (folder.filename().string().rfind(runFolderPrefix, 0) != 0 || it->is_symlink(kindError) ||
            !it->is_directory(kindError)) {
            continue;
        }
        if (!isAbandoned(folder)) continue;
        std::error_code removeError;
        fs::remove_all(folder, removeError);
        if (!removeError) ++removed;
    }
    return removed;
}

RunTemporaryDirectory::RunTemporaryDirectory() {
    if (const char* current = std::getenv(temporaryDirectoryVariable)) previousSetting_ = current;
    const fs::path shared = privateTemporaryDirectory();
    removeAbandonedRunFolders(shared);
    path_ = shared / (std::string(runFolderPrefix) + newUuidString());
    ::setenv(temporaryDirectoryVariable, path_.c_str(), 1);
    privateTemporaryDirectory(); // created now, with the private directory's checks
    // Locked under another name and only then put in place, so that a sweeping run never finds the
    // lock file unlocked while this run is alive.
    const fs::path unplaced = path_ / ".run.lock.new";
    lockDescriptor_ = ::open(unplaced.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockDescriptor_ >= 0 && ::flock(lockDescriptor_, LOCK_EX | LOCK_NB) == 0) {
        ::rename(unplaced.c_str(), (path_ / lockFileName).c_str());
    }
}

RunTemporaryDirectory::~RunTemporaryDirectory() {
    if (previousSetting_) ::setenv(temporaryDirectoryVariable, previousSetting_->c_str(), 1);
    else ::unsetenv(temporaryDirectoryVariable);
    remove();
}

void RunTemporaryDirectory::remove() noexcept {
    if (removed_) return;
    removed_ = true;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (lockDescriptor_ >= 0) ::close(lockDescriptor_);
    lockDescriptor_ = -1;
}

} // namespace orvanta::cli
