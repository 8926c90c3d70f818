#include "platform/TemporaryDirectory.h"

#include "platform/Error.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace orvanta {

namespace {

std::filesystem::path chosenLocation() {
    if (const char* override = std::getenv("ORVANTA_TEMP_DIR"); override != nullptr && *override != '\0') {
        return override;
    }
    std::filesystem::path root = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        root = tmp;
    }
    return root / ("orvanta-" + std::to_string(::getuid()));
}

[[noreturn]] void unsafe(const std::filesystem::path& dir, const std::string& why) {
    throw fileSystemError(FileSystemErrorCode::unsafeDirectory,
                          "The temporary folder \"" + dir.string() + "\" cannot be used: " + why);
}

void ensurePrivateDirectory(const std::filesystem::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        // A missing parent (an ORVANTA_TEMP_DIR below a new folder) is created for the user.
        std::error_code ec;
        std::filesystem::create_directories(dir.parent_path(), ec);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            throw fileSystemError(FileSystemErrorCode::createDirectoryFailed,
                                  "Could not create the temporary folder \"" + dir.string() + "\": " +
                                      std::strerror(errno));
        }
    }
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
        unsafe(dir, std::strerror(errno));
    }
    if (S_ISLNK(info.st_mode)) {
        unsafe(dir, "it is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
        unsafe(dir, "it is not a folder");
    }
    if (info.st_uid != ::getuid()) {
        unsafe(dir, "it belongs to another user");
    }
    if ((info.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) {
        unsafe(dir, "its permissions cannot be restricted");
    }
}

} // namespace

std::filesystem::path privateTemporaryDirectory() {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const std::filesystem::path dir = chosenLocation();
    ensurePrivateDirectory(dir);
    return dir;
}

} // namespace orvanta
