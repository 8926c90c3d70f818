#include "platform/FileKind.h"

#include <sys/stat.h>

namespace orvanta {

FileKind fileKindOf(const std::filesystem::path& path) noexcept {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return FileKind::missing;
    if (S_ISREG(info.st_mode)) return FileKind::regular;
    if (S_ISDIR(info.st_mode)) return FileKind::folder;
    if (S_ISFIFO(info.st_mode)) return FileKind::namedPipe;
    if (S_ISSOCK(info.st_mode)) return FileKind::socket;
    if (S_ISCHR(info.st_mode)) return FileKind::characterDevice;
    if (S_ISBLK(info.st_mode)) return FileKind::blockDevice;
    return FileKind::other;
}

std::string_view describeFileKind(FileKind kind) noexcept {
    switch (kind) {
    case FileKind::missing: return "missing";
    case FileKind::regular: return "a regular file";
    case FileKind::folder: return "a folder";
    case FileKind::namedPipe: return "a named pipe (FIFO)";
    case FileKind::socket: return "a socket";
    case FileKind::characterDevice: return "a character device";
    case FileKind::blockDevice: return "a block device";
    case FileKind::other: break;
    }
    return "not a regular file";
}

} // namespace orvanta
