#include "platform/OutputDestination.h"

#include "platform/Error.h"
#include "platform/FileKind.h"
#include "platform/FileOperations.h"
#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace orvanta {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

[[noreturn]] void refuse(const std::string& description) {
    throw fileSystemError(FileSystemErrorCode::destinationRefused, description);
}

[[noreturn]] void writeFailed(const fs::path& output, const std::string& reason) {
    throw fileSystemError(FileSystemErrorCode::writeFailed, "Could not write to " + quoted(output) + ": " + reason);
}

// The output's folder ("." for a bare name).
fs::path folderOf(const fs::path& output) {
    const fs::path parent = output.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// Refuses what must never receive a result; true for a device or a pipe to write into.
bool isStreamDestination(const fs::path& output, bool descriptorLink) {
    const FileKind kind = fileKindOf(output);
    switch (kind) {
    case FileKind::missing:
    case FileKind::regular:
        return descriptorLink;
    case FileKind::characterDevice:
    case FileKind::namedPipe:
        return true;
    case FileKind::folder:
        refuse(quoted(output) + " is a folder; give the name of a file to write");
    case FileKind::blockDevice:
        refuse(quoted(output) + " is a block device; a result is never written onto a disk device");
    case FileKind::socket:
    case FileKind::other:
        break;
    }
    refuse(quoted(output) + " is " + std::string(describeFileKind(kind)) + "; a result cannot be written there");
}

// The links under /proc (/proc/self/fd/N, reached from /dev/stdout and /dev/fd/N) name open files,
// not paths: the text they read as may be "pipe:[123]", a deleted file or a path of another mount
// namespace, so they are opened, never followed by name.
bool isDescriptorLink(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = fs::canonical(path.parent_path().empty() ? fs::path(".") : path.parent_path(), ec);
    return !ec && folder.string().rfind("/proc/", 0) == 0;
}

// Copies everything from `in` to `out`, retrying interrupted and short writes. False when cancelled.
bool copyBytes(int in, int out, const fs::path& source, const fs::path& output,
               const std::function<bool()>& isCancelled) {
    std::vector<char> chunk(size_t(1) << 20);
    while (true) {
        if (isCancelled && isCancelled()) return false;
        const ssize_t got = ::read(in, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            throw fileSystemError(FileSystemErrorCode::copyFailed,
                                  "Could not read " + quoted(source) + ": " + std::strerror(errno));
        }
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, chunk.data() + done, size_t(got - done));
            if (put < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    // A full pipe: wait for room in short steps, so that a cancel is seen even while
                    // the reader takes its time (a signal may land on any thread and interrupt nothing).
                    pollfd room{out, POLLOUT, 0};
                    ::poll(&room, 1, 100);
                    if (isCancelled && isCancelled()) return false;
                    continue;
                }
                if (errno == EINTR) {
                    if (isCancelled && isCancelled()) return false;
                    continue;
                }
                if (errno == EPIPE) writeFailed(output, "the program reading from the pipe closed it");
                writeFailed(output, std::strerror(errno));
            }
            done += put;
        }
    }
}

bool streamInto(int in, const fs::path& source, const fs::path& output, const std::function<bool()>& isCancelled) {
    // This process's own standard output is written through its descriptor, at its offset, so that
    // `-o /dev/stdout > x.wav` (and >>) fills x.wav as the shell opened it. Anything else opens
    // non-blocking: a pipe without a reader fails at once (ENXIO) instead of waiting for one forever,
    // and a full pipe is waited on in steps that look at the cancellation. A regular file behind a
    // descriptor link is truncated, as the shell's > would.
    const bool regular = fileKindOf(output) == FileKind::regular;
    FileDescriptor out(isStandardOutput(output)
                           ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                           : ::open(output.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (regular ? O_TRUNC : 0)));
    if (out.get() < 0) {
        if (errno == ENXIO) refuse("Could not write to " + quoted(output) + ": no program is reading from the pipe");
        writeFailed(output, std::strerror(errno));
    }
    if (!copyBytes(in, out.get(), source, output, isCancelled)) return false;
    if (out.close() != 0) writeFailed(output, std::strerror(errno));
    return true;
}

bool replaceAtomically(int in, const fs::path& source, const fs::path& output,
                       const std::function<bool()>& isCancelled) {
    removeStalePartialFiles(output);
    const fs::path partial = siblingTemporaryPath(output);
    FileDescriptor out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) writeFailed(output, std::strerror(errno));
    try {
        if (!copyBytes(in, out.get(), source, output, isCancelled)) {
            removeFileQuietly(partial);
            return false;
        }
        if (out.close() != 0) writeFailed(output, std::strerror(errno));
        if (::rename(partial.c_str(), output.c_str()) != 0) writeFailed(output, std::strerror(errno));
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
    return true;
}

} // namespace

OutputTarget resolveOutputTarget(const fs::path& output) {
    fs::path current = output;
    for (int links = 0; links <= 40; ++links) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return {current, false};
        if (isDescriptorLink(current)) return {current, true};
        std::error_code ec;
        const fs::path target = fs::read_symlink(current, ec);
        if (ec) return {current, false};
        current = (target.is_absolute() ? target : current.parent_path() / target).lexically_normal();
    }
    refuse(quoted(output) + " is a chain of links that never ends");
}

bool isStandardOutput(const fs::path& output) noexcept {
    struct stat path {}, standardOutput {};
    return ::stat(output.c_str(), &path) == 0 && ::fstat(STDOUT_FILENO, &standardOutput) == 0 &&
           S_ISREG(path.st_mode) && path.st_dev == standardOutput.st_dev && path.st_ino == standardOutput.st_ino;
}

void checkOutputDestination(const fs::path& requested) {
    if (requested.empty()) refuse("The output has no name");
    const OutputTarget target = resolveOutputTarget(requested);
    const fs::path& output = target.path;
    if (isStreamDestination(output, target.inPlace)) {
        if (::access(output.c_str(), W_OK) != 0) refuse("Cannot write to " + quoted(output) + ": " + std::strerror(errno));
        return;
    }
    const fs::path folder = folderOf(output);
    const FileKind folderKind = fileKindOf(folder);
    if (folderKind == FileKind::missing) refuse("The folder " + quoted(folder) + " does not exist");
    if (folderKind != FileKind::folder) {
        refuse(quoted(folder) + " is " + std::string(describeFileKind(folderKind)) + ", not a folder");
    }
    const std::size_t nameBytes = output.filename().string().size();
    if (nameBytes > fileNameLimit(folder)) {
        refuse("File name too long: " + quoted(output.filename()) + " has " + std::to_string(nameBytes) +
               " bytes, the folder takes at most " + std::to_string(fileNameLimit(folder)));
    }
    // Permissions alone do not tell (a read-only mount, ACLs): the folder must take a real new file.
    const fs::path probe = siblingTemporaryPath(output);
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) refuse("Cannot write into the folder " + quoted(folder) + ": " + std::strerror(errno));
    ::close(fd);
    removeFileQuietly(probe);
}

bool publishFile(const fs::path& source, const fs::path& requested, const std::function<bool()>& isCancelled) {
    const OutputTarget target = resolveOutputTarget(requested);
    const fs::path& output = target.path;
    const bool stream = isStreamDestination(output, target.inPlace);
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        throw fileSystemError(FileSystemErrorCode::copyFailed,
                              "Could not read " + quoted(source) + ": " + std::strerror(errno));
    }
    return stream ? streamInto(in.get(), source, output, isCancelled)
                  : replaceAtomically(in.get(), source, output, isCancelled);
}

bool publishFileConsuming(const fs::path& source, const fs::path& output, const std::function<bool()>& isCancelled) {
    // Moved onto the file a link points at, never onto the link itself.
    const OutputTarget target = resolveOutputTarget(output);
    if (!isStreamDestination(target.path, target.inPlace)) {
        if (isCancelled && isCancelled()) return false;
        // Only a source that is a regular file itself is moved: a link would leave its target behind.
        if (fileKindOf(source) == FileKind::regular && !fs::is_symlink(source) &&
            ::rename(source.c_str(), target.path.c_str()) == 0) {
            removeStalePartialFiles(target.path); // as a copy into place would
            return true;
        }
    }
    return publishFile(source, output, isCancelled);
}

} // namespace orvanta
